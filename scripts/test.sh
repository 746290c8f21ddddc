#!/usr/bin/env bash
# Installs what the tests need, builds with warnings as errors and runs every
# test, failing on the first failure:
#   1. the C++ core suites (MPFR and exact-rational references), built with
#      GCC and with Clang, and the same
#      digests of fixed streams of evaluations on twelve builds: x86-64 (GCC,
#      Clang, no hardware division, portable wide arithmetic, MinGW-w64 under
#      wine, the Microsoft compiler's branch built by Clang under wine) and,
#      under qemu-user, aarch64, s390x, ppc64le, riscv64, armhf and
#      i686, with the unit tests run on s390x, i686 and aarch64
#   2. the Python suites (exact_interp on a two-process Dask cluster included)
#      against one stable-ABI wheel on CPython 3.10, 3.11, 3.12 and 3.13 with
#      NumPy 2.x and on CPython 3.10 with NumPy 1.26, and against a wheel with
#      the portable wide arithmetic, and on Debian's CPython 3.14 and 3.15
#      (its unstable suite, in a root built by debootstrap); on free-threaded
#      CPython 3.13t with the GIL off, against a wheel of its own; and the
#      Windows wheel's, under wine
#   3. the wheel (abi3 audit, manylinux repair) and the sdist installed into
#      fresh environments, and the type stubs under mypy --strict
#   4. the documentation site, warnings as errors (its examples ran in 2.)
#   5. both suites again under AddressSanitizer and UndefinedBehaviorSanitizer
#   6. a short run of each fuzzer
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh

install_system_packages clang

stage "C++ core"
build_preset default
ctest --test-dir build/test --output-on-failure -j "$(nproc)"

stage "C++ core under Clang"
build_preset clang
# a fifth of the differential operations: the GCC build ran them all
RUST_SHORT_RUN=1 ctest --test-dir build/test-clang --output-on-failure -j "$(nproc)"

stage "Cross-target check"
bash scripts/cross_check.sh

stage "Python module"
# One wheel for the stable ABI, built once, proven on every supported CPython
# with NumPy 2.x and on the oldest with NumPy 1.26; the same sources with the
# portable wide arithmetic pass the suite too. Two suites run at a time. The
# oldest and the newest CPython run every property test in full; the others
# run a quarter of the examples (RUST_HYPOTHESIS_SCALE). The leak checks
# (marked slow, half a suite's time) run on the newest, on Debian's 3.14 and
# under the sanitizers.
make_venv build/venv-np2 "numpy>=2" "${TEST_PACKAGES[@]}" "scikit-build-core>=0.10"
build_wheel build/venv-np2 build/wheel
build_wheel build/venv-np2 build/wheel-portable -C cmake.define.RUST_PORTABLE=ON
oldest=${SUPPORTED_PYTHONS[0]} newest=${SUPPORTED_PYTHONS[-1]}
# name | interpreter | NumPy | wheel folder | pytest marker expression | share of the examples
suites=("py$newest|$(python_for "$newest")|numpy>=2|build/wheel||1"
        "py$oldest|$(python_for "$oldest")|numpy>=2|build/wheel|not slow|1")
for v in "${SUPPORTED_PYTHONS[@]:1:${#SUPPORTED_PYTHONS[@]}-2}"; do
    suites+=("py$v|$(python_for "$v")|numpy>=2|build/wheel|not slow|0.25")
done
suites+=("py3.10-np1|$(python_for 3.10)|numpy==1.26.*|build/wheel|not slow|0.25")
suites+=("py3.11-portable|$(python_for 3.11)|numpy>=2|build/wheel-portable|not slow|0.25")
# and two of their own: free-threaded CPython 3.13t with the GIL off (its own
# wheel), and the Windows wheel under wine
suites+=("py3.13t|free-threaded" "windows|wine")
run_suite() {
    local name python numpy dir marks scale
    IFS='|' read -r name python numpy dir marks scale <<< "$1"
    case $python in
        free-threaded) bash scripts/free_threaded.sh ;;
        wine) bash scripts/windows.sh build/wheel/*.whl ;;
        *) RUST_HYPOTHESIS_SCALE=$scale python_suite "$name" "$python" "$numpy" "$(ls "$dir"/*.whl)" "$marks" ;;
    esac > "build/suite-$name.log" 2>&1
}
declare -A running=()  # pid → suite
report_one() {  # waits for any running suite; prints its outcome
    local pid status=0
    wait -n -p pid "${!running[@]}" || status=$?
    local name=${running[$pid]%%|*}
    unset "running[$pid]"
    if ((status == 0)); then
        grep -a -E '^== Python tests|^built|passed' "build/suite-$name.log"
    else
        cat "build/suite-$name.log"
        echo "Python suite $name failed" >&2
        exit 1
    fi
}
for s in "${suites[@]}"; do
    ((${#running[@]} < 2)) || report_one
    run_suite "$s" &
    running[$!]=$s
done
while ((${#running[@]})); do report_one; done
stage "Python suites on Debian's newer CPython"
bash scripts/newer_pythons.sh build/wheel/*.whl

stage "Distribution and type stubs"
bash scripts/dist_check.sh

stage "Documentation"
bash scripts/docs.sh

stage "Sanitizers"
RUST_LEAK_LOOPS=20000 bash scripts/sanitize.sh

stage "Fuzzers, short run"
bash scripts/fuzz.sh "${RUST_FUZZ_SECONDS:-30}"
stage "Done"
