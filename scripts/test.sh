#!/usr/bin/env bash
# Installs what the tests need, builds with warnings as errors and runs every
# test: the C++ core suites, then the Python suites on NumPy 2.x and on 1.26.
# Fails on the first failure.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh

install_system_packages

echo "== C++ core"
configure_and_build build/test -DRUST_TESTS=ON -DRUST_BENCH=ON -DRUST_MODULE=OFF -DRUST_WERROR=ON
ctest --test-dir build/test --output-on-failure -j "$(nproc)"

echo "== Python module"
make_venv build/venv-np2 "numpy>=2" pytest hypothesis "scikit-build-core>=0.10"
build_wheel build/venv-np2 build/wheel
make_venv build/venv-np1 "numpy==1.26.*" pytest hypothesis
for env in np2 np1; do
    venv=build/venv-$env
    "$venv/bin/python" -m pip install -q --disable-pip-version-check --force-reinstall --no-deps build/wheel/*.whl
    echo "== Python tests, $("$venv/bin/python" -c 'import numpy; print("NumPy", numpy.__version__)')"
    (cd tests/python && "../../$venv/bin/python" -m pytest -q -p no:cacheprovider .)
done
