#!/usr/bin/env bash
# Builds the documentation site into build/docs/html with Sphinx (MyST
# Markdown pages, numpydoc docstrings, the reference read from the installed
# package), warnings as errors. The pages' examples are run by the Python
# suite (tests/python/test_docs.py).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh

install_system_packages
make_venv build/venv-docs "numpy>=2" "scikit-build-core>=0.10" "${DOCS_PACKAGES[@]}"
build_wheel build/venv-docs build/wheel-docs
build/venv-docs/bin/python -m pip install -q --disable-pip-version-check --force-reinstall --no-deps build/wheel-docs/*.whl
rm -rf build/docs
build/venv-docs/bin/python -m sphinx -W --keep-going -q -b html docs build/docs/html
# every public name has its entry in the reference
build/venv-docs/bin/python - <<'PY'
import pathlib, sys
import exact_interp, exact_interp.dask
html = "".join(p.read_text() for p in pathlib.Path("build/docs/html/reference").glob("*.html"))
names = [f"exact_interp.{n}" for n in exact_interp.__all__]
names += [f"exact_interp.Interpolator.{m}" for m in ("forward", "inverse", "xp", "fp")]
names += [f"exact_interp.GroupedInterpolator.{m}" for m in ("forward", "inverse", "keys")]
names += [f"exact_interp.dask.{n}" for n in exact_interp.dask.__all__]
names += [f"rust.{n}" for n in ("forward_int", "forward_float", "inverse_int", "inverse_float")]
missing = [n for n in names if f'id="{n}"' not in html]
if missing:
    sys.exit(f"no reference entry for {', '.join(missing)}")
print(f"reference: {len(names)} public names, each with its entry")
PY
echo "documentation: build/docs/html/index.html"
