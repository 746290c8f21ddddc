#!/usr/bin/env bash
# The core and both modules built with AddressSanitizer and
# UndefinedBehaviorSanitizer; the whole C++ suite and the whole Python suite
# run under them (the runtimes preloaded into the interpreter). Then the same
# built with ThreadSanitizer, under which the threaded tests run: evaluations
# split across threads, Python threads sharing one Interpolator, errors in
# several chunks at once. Any report fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh

install_system_packages
make_venv build/venv-np2 "numpy>=2" "${TEST_PACKAGES[@]}" "scikit-build-core>=0.10"
build_preset asan -DPython3_EXECUTABLE="$PWD/build/venv-np2/bin/python"

export ASAN_OPTIONS=abort_on_error=1:allocator_may_return_null=1:detect_stack_use_after_return=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
echo "== C++ suite under ASan+UBSan"
# the differential tests with a fifth of their operations: the plain builds ran them all
RUST_SHORT_RUN=1 ctest --test-dir build/asan --output-on-failure -j "$(nproc)"

echo "== Python suite under ASan+UBSan"
preload="$(g++ -print-file-name=libasan.so):$(g++ -print-file-name=libubsan.so)"
ASAN_OPTIONS="$ASAN_OPTIONS:detect_leaks=0" LD_PRELOAD="$preload" PYTHONPATH="$PWD/build/asan" build/venv-np2/bin/python \
    -c 'import rust, exact_interp._native as n; assert "build/asan" in rust.__file__ and "build/asan" in n.__file__'  # the instrumented modules are the ones tested
# The interpreter keeps objects alive until exit by design; leaks are checked
# by the reference and memory tests instead.
# The build tree holds exact_interp: its Python files beside its instrumented native part.
# Half the property examples: the memory errors they could reach lie on paths the other half takes too.
(cd tests/python && RUST_SANITIZED=1 RUST_HYPOTHESIS_SCALE=${RUST_HYPOTHESIS_SCALE:-0.5} ASAN_OPTIONS="$ASAN_OPTIONS:detect_leaks=0" LD_PRELOAD="$preload" \
    PYTHONPATH="$PWD/../../build/asan" ../../build/venv-np2/bin/python -m pytest -q -p no:cacheprovider .)

build_preset tsan -DPython3_EXECUTABLE="$PWD/build/venv-np2/bin/python"
report=$PWD/build/tsan-report
rm -f "$report".*
export TSAN_OPTIONS="halt_on_error=1:exitcode=66:log_path=$report:suppressions=$PWD/scripts/tsan-suppressions.txt"
tsan_failed() { cat "$report".* 2>/dev/null; echo "ThreadSanitizer: $1" >&2; exit 1; }
echo "== Threaded C++ tests under TSan"
build/tsan/core_tests --gtest_brief=1 --gtest_filter='SplitRun.*:Passes/WholeArrayPasses.*' || tsan_failed "C++ tests"
echo "== Threaded Python tests under TSan"
(cd tests/python && LD_PRELOAD="$(g++ -print-file-name=libtsan.so)" PYTHONPATH="$PWD/../../build/tsan" \
    ../../build/venv-np2/bin/python -m pytest -q -p no:cacheprovider test_parallel.py \
    test_errors.py::test_lowest_failing_index_wins_across_chunks \
    test_robustness.py::test_concurrent_threads_give_single_threaded_results \
    test_process.py::test_fresh_interpreter_with_threads) || tsan_failed "Python tests"
if ls "$report".* >/dev/null 2>&1; then tsan_failed "reports"; fi
