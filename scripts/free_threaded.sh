#!/usr/bin/env bash
# The Python suite on free-threaded CPython 3.13 (3.13t, the GIL off) against
# a wheel built there for its own ABI (cp313t: free-threaded builds have no
# limited API).
#   bash scripts/free_threaded.sh
# The interpreter is built once from Debian's python3.13 source package and
# kept outside the checkout (RUST_CACHE_DIR, by default ~/.cache/exact-interp),
# so that a fresh clone finds it. The suite runs with PYTHON_GIL=0 (the test
# libraries may not declare themselves safe without it); a test checks that
# importing the modules keeps the GIL off without that setting.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh

version=3.13
cache=$(cache_dir)
prefix=$cache/cpython-$version-free-threaded
python=$prefix/bin/python${version}t

build_interpreter() {
    install_system_packages make libssl-dev zlib1g-dev libffi-dev libbz2-dev \
        liblzma-dev libsqlite3-dev uuid-dev
    local work=$cache/cpython-$version-build tarball
    tarball=$(cpython_source "$version")
    rm -rf "$work" "$prefix" && mkdir -p "$work"
    echo "building free-threaded CPython from $(basename "$tarball") into $prefix"
    tar -xf "$tarball" -C "$work"
    local src
    src=$(find "$work" -mindepth 1 -maxdepth 1 -type d -name 'Python-*' | head -n1)
    (cd "$src" && ./configure -q --disable-gil --prefix="$prefix" --with-ensurepip=install \
        > "$work/configure.log" 2>&1 && make -s -j "$(nproc)" > "$work/make.log" 2>&1 &&
        make -s install > "$work/install.log" 2>&1) || { tail -n 40 "$work"/*.log; exit 1; }
    rm -rf "$work"
}

[ -x "$python" ] && "$python" -c 'import ssl, sys; sys.exit(sys._is_gil_enabled())' 2>/dev/null || build_interpreter
"$python" -c 'import sys; assert not sys._is_gil_enabled(), "the interpreter has a GIL"'

# The test libraries that load there (Polars and DuckDB have no free-threaded
# wheels: their tests skip, saying so), binary releases preferred: some of
# the newest are sources only for this ABI.
FREE_THREADED_PACKAGES=(pytest hypothesis "dask[array,dataframe]" distributed pandas pyarrow xarray)
venv=build/venv-py${version}t
PYTHON=$python make_venv "$venv" --prefer-binary "numpy>=2" "${FREE_THREADED_PACKAGES[@]}" "scikit-build-core>=0.10"
build_wheel "$venv" build/wheel-free-threaded
wheel=$(ls build/wheel-free-threaded/*.whl)
case $(basename "$wheel") in
    *-cp${version/./}-cp${version/./}t-*.whl) ;;
    *) echo "$(basename "$wheel"): not a wheel for the free-threaded ABI" >&2; exit 1 ;;
esac
"$venv/bin/python" -m pip install -q --disable-pip-version-check --no-deps --force-reinstall "$wheel"
echo "== Python tests, py${version}t, the GIL off: $("$venv/bin/python" -c 'import sys, numpy, rust, exact_interp
print("CPython", sys.version.split()[0], "NumPy", numpy.__version__, "GIL after import:", sys._is_gil_enabled())')"
(cd tests/python && PYTHON_GIL=0 RUST_HYPOTHESIS_SCALE=${RUST_HYPOTHESIS_SCALE:-1} "../../$venv/bin/python" -m pytest -q \
    -p no:cacheprovider -m "not slow" .)
