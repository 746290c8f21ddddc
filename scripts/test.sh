#!/usr/bin/env bash
# Installs what the tests need, builds with warnings as errors and runs every
# test, failing on the first failure:
#   1. the C++ core suites (MPFR and exact-rational references), built with
#      GCC and with Clang, and the same
#      digests of fixed streams of evaluations on eleven builds: x86-64 (GCC,
#      Clang, no hardware division, portable wide arithmetic, MinGW-w64 under
#      wine) and, under qemu-user, aarch64, s390x, ppc64le, riscv64, armhf and
#      i686, with the unit tests run on s390x, i686 and aarch64
#   2. the Python suites (exact_interp on a two-process Dask cluster included)
#      against one stable-ABI wheel on CPython 3.10, 3.11, 3.12 and 3.13 with
#      NumPy 2.x and on CPython 3.10 with NumPy 1.26, and against a wheel with
#      the portable wide arithmetic, and on Debian's CPython 3.14 and 3.15
#      (its unstable suite, in a root built by debootstrap)
#   3. the wheel (abi3 audit, manylinux repair) and the sdist installed into
#      fresh environments, and the type stubs under mypy --strict
#   4. the documentation site, warnings as errors (its examples ran in 2.)
#   5. both suites again under AddressSanitizer and UndefinedBehaviorSanitizer
#   6. a short run of each fuzzer
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh

install_system_packages clang

echo "== C++ core"
build_preset default
ctest --test-dir build/test --output-on-failure -j "$(nproc)"

echo "== C++ core under Clang"
build_preset clang
ctest --test-dir build/test-clang --output-on-failure -j "$(nproc)"

echo "== Cross-target check"
bash scripts/cross_check.sh

echo "== Python module"
# One wheel for the stable ABI, built once, proven on every supported CPython
# with NumPy 2.x and on the oldest with NumPy 1.26; the same sources with the
# portable wide arithmetic pass the suite too. Two suites run at a time. The
# leak checks (marked slow, more than half a suite's time) run on the oldest
# and the newest of these CPythons, on Debian's and under the sanitizers;
# the other suites leave them out.
make_venv build/venv-np2 "numpy>=2" "${TEST_PACKAGES[@]}" "scikit-build-core>=0.10"
build_wheel build/venv-np2 build/wheel
build_wheel build/venv-np2 build/wheel-portable -C cmake.define.RUST_PORTABLE=ON
oldest=${SUPPORTED_PYTHONS[0]} newest=${SUPPORTED_PYTHONS[-1]}
suites=("py$oldest|$(python_for "$oldest")|numpy>=2|build/wheel|" "py$newest|$(python_for "$newest")|numpy>=2|build/wheel|")
for v in "${SUPPORTED_PYTHONS[@]:1:${#SUPPORTED_PYTHONS[@]}-2}"; do
    suites+=("py$v|$(python_for "$v")|numpy>=2|build/wheel|not slow")
done
suites+=("py3.10-np1|$(python_for 3.10)|numpy==1.26.*|build/wheel|not slow")
suites+=("py3.11-portable|$(python_for 3.11)|numpy>=2|build/wheel-portable|not slow")
run_suite() {
    local name python numpy dir marks
    IFS='|' read -r name python numpy dir marks <<< "$1"
    python_suite "$name" "$python" "$numpy" "$(ls "$dir"/*.whl)" "$marks" > "build/suite-$name.log" 2>&1
}
report_suite() {  # the outcome of the suite started as $2 with pid $1
    local name=${2%%|*}
    if wait "$1"; then
        grep -E '^== Python tests|passed' "build/suite-$name.log"
    else
        cat "build/suite-$name.log"
        echo "Python suite $name failed" >&2
        exit 1
    fi
}
pids=() started=()
for s in "${suites[@]}"; do
    run_suite "$s" &
    pids+=($!) started+=("$s")
    if ((${#pids[@]} == 2)); then
        report_suite "${pids[0]}" "${started[0]}"
        pids=("${pids[@]:1}") started=("${started[@]:1}")
    fi
done
for k in "${!pids[@]}"; do report_suite "${pids[$k]}" "${started[$k]}"; done
bash scripts/newer_pythons.sh build/wheel/*.whl

echo "== Distribution and type stubs"
bash scripts/dist_check.sh

echo "== Documentation"
bash scripts/docs.sh

echo "== Sanitizers"
RUST_LEAK_LOOPS=20000 bash scripts/sanitize.sh

echo "== Fuzzers, short run"
bash scripts/fuzz.sh "${RUST_FUZZ_SECONDS:-30}"
