#!/usr/bin/env bash
# Installs what the tests need, builds with warnings as errors and runs every
# test, failing on the first failure:
#   1. the C++ core suites (MPFR and exact-rational references), and the same
#      digest of a fixed stream of evaluations on ten builds: x86-64 (GCC,
#      Clang, no hardware division, portable wide arithmetic) and, under
#      qemu-user, aarch64, s390x, ppc64le, riscv64, armhf and i686, with the
#      unit tests run on s390x and i686
#   2. the Python suites on NumPy 2.x and on NumPy 1.26, against one wheel
#   3. the type stubs under mypy --strict, the wheel and the sdist installed
#      into fresh environments, and the Dask recipe
#   4. both suites again under AddressSanitizer and UndefinedBehaviorSanitizer
#   5. a short run of each fuzzer
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh

install_system_packages

echo "== C++ core"
configure_and_build build/test -DRUST_TESTS=ON -DRUST_BENCH=ON -DRUST_MODULE=OFF -DRUST_WERROR=ON
ctest --test-dir build/test --output-on-failure -j "$(nproc)"

echo "== Cross-target check"
bash scripts/cross_check.sh

echo "== Python module"
make_venv build/venv-np2 "numpy>=2" pytest hypothesis "scikit-build-core>=0.10" "dask[array]"
build_wheel build/venv-np2 build/wheel
make_venv build/venv-np1 "numpy==1.26.*" pytest hypothesis "dask[array]"
for env in np2 np1; do
    venv=build/venv-$env
    "$venv/bin/python" -m pip install -q --disable-pip-version-check --force-reinstall --no-deps build/wheel/*.whl
    echo "== Python tests, $("$venv/bin/python" -c 'import numpy; print("NumPy", numpy.__version__)')"
    (cd tests/python && "../../$venv/bin/python" -m pytest -q -p no:cacheprovider .)
done

echo "== Distribution and type stubs"
bash scripts/dist_check.sh

echo "== Sanitizers"
RUST_LEAK_LOOPS=20000 bash scripts/sanitize.sh

echo "== Fuzzers, short run"
bash scripts/fuzz.sh "${RUST_FUZZ_SECONDS:-30}"
