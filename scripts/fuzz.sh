#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan and UBSan on) and runs each
# for the given number of seconds (default 60). Corpora are kept under
# build/fuzz-corpus; a finding stops the run with the input written to
# build/fuzz-findings.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh

seconds=${1:-60}
install_system_packages clang libclang-rt-14-dev
build_preset fuzz
mkdir -p build/fuzz-findings
for target in fuzz_evaluation fuzz_f80; do
    corpus=build/fuzz-corpus/$target
    mkdir -p "$corpus"
    echo "== $target for ${seconds}s"
    status=0
    build/fuzz/$target -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix=build/fuzz-findings/ \
        "$corpus" > build/fuzz-$target.log 2>&1 || status=$?
    grep -E "^(stat::number_of_executed_units|stat::new_units_added|Done)|ERROR|SUMMARY|fuzz check failed|runtime error|F80 .*MPFR" \
        build/fuzz-$target.log || true
    if [ "$status" -ne 0 ]; then
        echo "$target failed (exit $status); see build/fuzz-$target.log and build/fuzz-findings/" >&2
        exit "$status"
    fi
done
