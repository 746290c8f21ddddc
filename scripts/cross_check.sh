#!/usr/bin/env bash
# The same bits on every processor. Builds the core for each target with the
# project's own CMake (cmake/toolchains/ for the cross compilers) and runs
#   - the digest program (a fixed stream of ~1.4·10^6 evaluations, hashed in a
#     byte order of its own, the whole-array ones split across two threads) natively with GCC and Clang, without the hardware
#     division and with the portable wide arithmetic, and under qemu-user on
#     aarch64, s390x (big-endian), ppc64le, riscv64, armhf and i686 (32-bit),
#     and for Windows (LLP64: long is 32 bits) with MinGW-w64 under wine, and
#     through the Microsoft compiler's branch (_umul128/_udiv128) as Clang
#     builds it for Windows with that compiler's macros
#     (cmake/toolchains/msvc-branch.cmake), under wine;
#   - the C++ unit tests (those without MPFR) under qemu on s390x, i686 and
#     aarch64 (its NEON kernels as well as the scalar ones).
# Each digest is taken on every kernel target the build holds and the
# processor runs (x86-64: scalar, AVX2, AVX-512 where present; aarch64:
# scalar, NEON). The x86-64 kernel objects are checked to define nothing
# outside their target's namespace.
# Fails unless every digest equals tests/cpp/digest.expected.
#   RUST_DIGEST_ROUNDS=N   a stream N times as long (compared across targets only)
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh

# target triple : qemu name
TARGETS=(aarch64-linux-gnu:aarch64 s390x-linux-gnu:s390x powerpc64le-linux-gnu:ppc64le riscv64-linux-gnu:riscv64
         arm-linux-gnueabihf:arm i686-linux-gnu:i386)
UNIT_TARGETS=(s390x-linux-gnu:s390x i686-linux-gnu:i386 aarch64-linux-gnu:aarch64)
packages=(clang qemu-user g++-mingw-w64-x86-64-posix wine64)
for t in "${TARGETS[@]}"; do packages+=("g++-${t%%:*}"); done
install_system_packages "${packages[@]}"

ROUNDS=${RUST_DIGEST_ROUNDS:-1}
out=build/cross
mkdir -p "$out"
rm -f "$out"/*.digest
generator=()
command -v ninja >/dev/null 2>&1 && generator=(-G Ninja)

# digest NAME RUNNER CMAKE-OPTIONS…: the digest program built by the
# project's CMake (its sources, flags and kernel targets) into
# build/cross/NAME, with the core's preconditions checked; its line recorded.
# The digest is taken on every kernel target the build holds and the
# processor (or qemu's) runs; their names go to NAME.targets.
digest() {
    local name=$1 runner=$2
    shift 2
    {
        cmake -S . -B "$out/$name" "${generator[@]}" -DCMAKE_BUILD_TYPE=Release -DRUST_MODULE=OFF -DRUST_DIGEST=ON \
            -DRUST_CONTRACTS=ON -DRUST_WERROR=ON "$@"
        cmake --build "$out/$name" -j 1 --target core_digest
    } > "$out/$name.log" 2>&1 || { cat "$out/$name.log"; return 1; }
    $runner "$out/$name/core_digest" "$ROUNDS" > "$out/$name.digest" 2> "$out/$name.targets"
}

# The Windows build runs under wine: MinGW-w64 names the program .exe, and
# Windows ends lines with CR LF.
windows() {
    local program=$1
    shift
    WINEDEBUG=-all /usr/lib/wine/wine64 "$program.exe" "$@" | tr -d '\r'
}

start=$SECONDS
# name | runner | CMake options (the cross builds through the toolchain files in cmake/toolchains)
builds=(
    "x86-64-gcc||-DCMAKE_CXX_COMPILER=g++"
    "x86-64-clang||-DCMAKE_CXX_COMPILER=clang++"
    "x86-64-no-divq||-DCMAKE_CXX_COMPILER=g++ -DCMAKE_CXX_FLAGS=-DRUST_NO_HW_DIVQ"
    "x86-64-portable||-DCMAKE_CXX_COMPILER=clang++ -DRUST_PORTABLE=ON -DCMAKE_CXX_FLAGS=-pedantic-errors"
    "x86-64-windows|windows|--toolchain cmake/toolchains/mingw-w64.cmake"
    "x86-64-msvc-branch|windows|--toolchain cmake/toolchains/msvc-branch.cmake"
)
for t in "${TARGETS[@]}"; do
    builds+=("${t##*:}|qemu-${t##*:}|--toolchain cmake/toolchains/linux-cross.cmake -DRUST_CROSS_TRIPLE=${t%%:*} -DRUST_CROSS_QEMU=${t##*:}")
done
pids=()
for b in "${builds[@]}"; do
    IFS='|' read -r name runner options <<< "$b"
    # shellcheck disable=SC2086
    digest "$name" "$runner" $options &
    pids+=($!)
    if ((${#pids[@]} >= $(nproc))); then wait "${pids[0]}"; pids=("${pids[@]:1}"); fi
done
for p in "${pids[@]}"; do wait "$p"; done

echo "== Digests ($ROUNDS round(s))"
reference=$(cat tests/cpp/digest.expected)
failed=0
for b in "${builds[@]}"; do
    name=${b%%|*}
    line=$(cat "$out/$name.digest")
    printf '%-18s %s  (%s; %s)\n' "$name" "$line" "$(sed -n 's/^kernel targets: //p' "$out/$name.targets" | tr -d '\r')" \
        "$(sed -n 's/^wide arithmetic: //p' "$out/$name.targets" | tr -d '\r')"
    [ "$line" = "$(cat "$out/x86-64-gcc.digest")" ] || failed=1
done
if [ "$ROUNDS" = 1 ] && [ "$(cat "$out/x86-64-gcc.digest")" != "$reference" ]; then
    echo "the digest moved: expected $reference"
    failed=1
fi
((failed == 0)) || { echo "digests differ"; exit 1; }
echo "one digest on ${#builds[@]} builds ($((SECONDS - start)) s)"

# The Microsoft compiler's branch was the one built: the digest program says so, and no 128-bit helper of
# GCC's runtime is linked in.
grep -q '^wide arithmetic: msvc intrinsics' "$out/x86-64-msvc-branch.targets" ||
    { echo "x86-64-msvc-branch did not take the _umul128/_udiv128 branch"; exit 1; }
if x86_64-w64-mingw32-nm "$out/x86-64-msvc-branch/core_digest.exe" | grep -E '__udivti3|__multi3|__umodti3'; then
    echo "x86-64-msvc-branch links 128-bit helpers"; exit 1
fi
echo "x86-64-msvc-branch: the _umul128/_udiv128 branch, no 128-bit helper linked"

# A kernel file compiled with wider instructions must define nothing another
# file could link to instead of its own copy: every global or weak symbol in
# its target's namespace (inline functions shared with the baseline code
# would be merged, and might run on a processor without those instructions).
for c in gcc clang; do
    for k in avx2 avx512; do
        leaked=$(nm -C --defined-only "$out/x86-64-$c/CMakeFiles/rust_kernels.dir/src/kernels/kernels_$k.cpp.o" | awk '$2 ~ /^[TWVuBDR]$/' | grep -v "rust::kernels::$k::" || true)
        [ -z "$leaked" ] || { echo "kernels_$k.o ($c) defines symbols outside its namespace:"; echo "$leaked"; exit 1; }
    done
done
echo "kernel objects: every symbol in its target's namespace"

echo "== Unit tests under qemu"
for t in "${UNIT_TARGETS[@]}"; do
    triple=${t%%:*} qemu=${t##*:}
    {
        cmake -S . -B "$out/tests-$qemu" "${generator[@]}" -DCMAKE_BUILD_TYPE=Release \
            --toolchain cmake/toolchains/linux-cross.cmake -DRUST_CROSS_TRIPLE="$triple" -DRUST_CROSS_QEMU="$qemu" \
            -DRUST_TESTS=ON -DRUST_MPFR_TESTS=OFF -DRUST_MODULE=OFF -DRUST_WERROR=ON \
            -DRUST_GTEST_SOURCE=/usr/src/googletest
        cmake --build "$out/tests-$qemu" -j "$(nproc)" --target core_tests
    } > "$out/tests-$qemu.log" 2>&1 || { cat "$out/tests-$qemu.log"; exit 1; }
    echo "-- $triple"
    "qemu-$qemu" "$out/tests-$qemu/core_tests" --gtest_brief=1
done
