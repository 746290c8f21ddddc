"""Sphinx configuration of the exact_interp documentation (built by scripts/docs.sh)."""

from importlib.metadata import version as _version

project = "exact_interp"
author = "the exact_interp developers"
copyright = "the exact_interp developers"  # noqa: A001 - Sphinx's name
release = _version("exact-interp")
version = release

extensions = [
    "myst_parser",  # pages in Markdown, where the benchmark scripts write their tables
    "numpydoc",  # the docstrings' sections
    "sphinx.ext.autodoc",
    "sphinx.ext.autosummary",
]
source_suffix = {".md": "markdown"}
exclude_patterns = ["_build"]
myst_heading_anchors = 3
myst_enable_extensions = ["colon_fence"]

# The reference: every public name, its signature from the native module's
# text signatures, its docstring's numpydoc sections.
autosummary_generate = False
autodoc_typehints = "none"
numpydoc_show_class_members = False
numpydoc_validation_checks = {"GL08", "PR01", "PR02", "RT01"}  # documented, every parameter, no strays, returns
numpydoc_validation_exclude = {r"\._", r"\.__"}
numpydoc_xref_param_type = False

html_theme = "pydata_sphinx_theme"
html_title = f"exact_interp {release}"
html_theme_options = {"navigation_depth": 2, "show_toc_level": 2}
html_static_path: list[str] = []
