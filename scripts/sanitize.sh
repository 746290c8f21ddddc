#!/usr/bin/env bash
# The core and the module built with AddressSanitizer and
# UndefinedBehaviorSanitizer; the whole C++ suite and the whole Python suite
# run under them (the runtimes preloaded into the interpreter). Any report
# fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh

install_system_packages
make_venv build/venv-np2 "numpy>=2" "${TEST_PACKAGES[@]}" "scikit-build-core>=0.10"
configure_and_build build/asan -DRUST_SANITIZE=ON -DRUST_TESTS=ON -DRUST_MODULE=ON -DRUST_WERROR=ON \
    -DPython3_EXECUTABLE="$PWD/build/venv-np2/bin/python"

export ASAN_OPTIONS=abort_on_error=1:allocator_may_return_null=1:detect_stack_use_after_return=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
echo "== C++ suite under ASan+UBSan"
ctest --test-dir build/asan --output-on-failure -j "$(nproc)"

echo "== Python suite under ASan+UBSan"
preload="$(g++ -print-file-name=libasan.so):$(g++ -print-file-name=libubsan.so)"
ASAN_OPTIONS="$ASAN_OPTIONS:detect_leaks=0" LD_PRELOAD="$preload" PYTHONPATH="$PWD/build/asan" build/venv-np2/bin/python \
    -c 'import rust; assert "build/asan" in rust.__file__, rust.__file__'  # the instrumented module is the one tested
# The interpreter keeps objects alive until exit by design; leaks are checked
# by the reference and memory tests instead.
# exact_interp (pure Python) from the source tree, over the instrumented module.
(cd tests/python && RUST_SANITIZED=1 ASAN_OPTIONS="$ASAN_OPTIONS:detect_leaks=0" LD_PRELOAD="$preload" \
    PYTHONPATH="$PWD/../../build/asan:$PWD/../../python" \
    ../../build/venv-np2/bin/python -m pytest -q -p no:cacheprovider .)
