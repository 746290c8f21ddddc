"""The documentation: the examples of every docs page and docstring run and
give what they show, every public name has a numpydoc docstring, and the
stubs that editors read carry the same text as help()."""

import ast
import doctest
import inspect
import pathlib

import pytest

import exact_interp

pytestmark = pytest.mark.dask
pytest.importorskip("dask", reason="the reference pages document exact_interp.dask, which needs dask[array]")
pytest.importorskip("pandas", reason="the examples show pandas containers")
pytest.importorskip("dask.dataframe", reason="the examples map Dask DataFrame columns, which need dask[dataframe]")
pytest.importorskip("duckdb", reason="the examples register SQL functions, which need duckdb")
import exact_interp.dask  # noqa: E402
import exact_interp.duckdb  # noqa: E402

DOCS = pathlib.Path(__file__).parents[2] / "docs"
PAGES = sorted(DOCS.rglob("*.md"))
FLAGS = doctest.NORMALIZE_WHITESPACE | doctest.ELLIPSIS


def public():
    """Every public function, class and method of exact_interp and exact_interp.dask."""
    names = [(f"exact_interp.{n}", getattr(exact_interp, n)) for n in exact_interp.__all__ if n != "__version__"]
    names += [(f"exact_interp.Interpolator.{m}", getattr(exact_interp.Interpolator, m))
              for m in ("forward", "inverse", "xp", "fp")]
    names += [(f"exact_interp.GroupedInterpolator.{m}", getattr(exact_interp.GroupedInterpolator, m))
              for m in ("forward", "inverse", "keys")]
    names += [(f"exact_interp.dask.{n}", getattr(exact_interp.dask, n)) for n in exact_interp.dask.__all__]
    names += [(f"exact_interp.duckdb.{n}", getattr(exact_interp.duckdb, n)) for n in exact_interp.duckdb.__all__]
    return names


def run_examples(text, name):
    test = doctest.DocTestParser().get_doctest(text, {}, name, name, 0)
    runner = doctest.DocTestRunner(optionflags=FLAGS)
    runner.run(test)
    return runner.summarize(verbose=False)


def test_there_are_pages():
    assert {p.relative_to(DOCS).as_posix() for p in PAGES} >= {"index.md", "tutorial.md", "howto/outside.md",
                                                                "reference/rust.md", "explanation/exactness.md"}


@pytest.mark.parametrize("page", PAGES, ids=[p.relative_to(DOCS).as_posix() for p in PAGES])
def test_page_examples(page):
    result = run_examples(page.read_text(encoding="utf-8"), page.name)
    assert result.failed == 0


@pytest.mark.parametrize("name, obj", public(), ids=[n for n, _ in public()])
def test_docstrings(name, obj):
    doc = inspect.getdoc(obj)
    assert doc, f"{name} has no docstring"
    routine = callable(obj) and not isinstance(obj, property)
    sections = ["Parameters", "Returns", "Examples"] if routine and not inspect.isclass(obj) else []
    if inspect.isclass(obj):
        sections = ["Parameters", "Examples"]
    for section in sections:
        assert f"\n{section}\n{'-' * len(section)}\n" in doc, f"{name}: no {section} section"
    result = run_examples(doc, name)
    assert result.failed == 0
    assert result.attempted > 0 or "Examples" not in sections


def stub_docstrings(stub):
    """name -> docstring of the module-level functions and Interpolator's members in a stub (the first
    overload that has one)."""
    tree = ast.parse((pathlib.Path(exact_interp.__file__).parent / stub).read_text(encoding="utf-8"))
    found = {}
    for node in tree.body:
        members = node.body if isinstance(node, ast.ClassDef) else [node]
        if isinstance(node, ast.ClassDef) and ast.get_docstring(node):
            found.setdefault(node.name, ast.get_docstring(node))
        for member in members:
            if isinstance(member, ast.FunctionDef) and ast.get_docstring(member):
                key = member.name if member is node else f"{node.name}.{member.name}"
                found.setdefault(key, ast.get_docstring(member))
    return found


@pytest.mark.parametrize("stub", ["_native.pyi", "_interpolator.pyi"])
def test_stubs_carry_the_docstrings(stub):
    import importlib

    owner = importlib.import_module(f"exact_interp.{stub[:-4]}")
    docs = stub_docstrings(stub)
    assert docs
    for key, text in docs.items():
        obj = owner
        for part in key.split("."):
            obj = getattr(obj, part)
        assert inspect.getdoc(obj) == text, key


def test_rust_keeps_no_docstrings():
    import rust

    assert all(getattr(rust, n).__doc__ is None for n in ("forward_int", "forward_float", "inverse_int",
                                                          "inverse_float"))
    assert help is not None and exact_interp.forward_int.__doc__.startswith("Positions to integer values")
