#!/usr/bin/env bash
# Installs what the tests need, builds with warnings as errors and runs every
# test: the C++ core suites, then the Python suites on NumPy 2.x and 1.26.
# Fails on the first failure.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh

install_system_packages
configure_and_build build/test -DRUST_TESTS=ON -DRUST_BENCH=ON -DRUST_MODULE=OFF -DRUST_WERROR=ON
ctest --test-dir build/test --output-on-failure -j "$(nproc)"
