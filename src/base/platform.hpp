// The compiler extensions the core uses outside wide arithmetic, each behind
// one guard with a standard C++20 fallback. RUST_PORTABLE turns every one of
// them off (and selects the portable wide arithmetic, see wide.hpp), so the
// core then compiles as standard C++20 on any compiler.
#pragma once

#include <bit>
#include <cstdint>

// The unwind with which the C runtime ends a thread (glibc's pthread_exit
// under libstdc++), which a handler may catch but must not end. A property of
// the runtime, not of the compiler, so it stays on under RUST_PORTABLE: the
// thread would end the process otherwise.
#if defined(__GLIBCXX__)
#include <cxxabi.h>
#define RUST_HAVE_FORCED_UNWIND 1
#else
#define RUST_HAVE_FORCED_UNWIND 0
#endif

// A function the inliner must fold into its callers: small steps of a loop
// that the compiler's size estimate would leave as calls. Plain `inline`
// (a hint) otherwise.
#if !defined(RUST_PORTABLE) && (defined(__GNUC__) || defined(__clang__))
#define RUST_ALWAYS_INLINE inline __attribute__((always_inline))
#else
#define RUST_ALWAYS_INLINE inline
#endif

// A lambda's call the inliner must keep out of line (written after the
// parameter list): rare work that would swell the hot loop it is called from.
// Nothing otherwise.
#if !defined(RUST_PORTABLE) && (defined(__GNUC__) || defined(__clang__))
#define RUST_OUT_OF_LINE __attribute__((noinline))
#else
#define RUST_OUT_OF_LINE
#endif

namespace rust::platform {

// The leading zero bits of a nonzero word: the instruction without the test
// for zero that std::countl_zero adds where the instruction leaves it
// undefined.
inline int countl_zero_nonzero(std::uint64_t v) {
#if !defined(RUST_PORTABLE) && (defined(__GNUC__) || defined(__clang__))
    return __builtin_clzll(v);
#else
    return std::countl_zero(v);
#endif
}

// A hint that *p is read soon; nothing where the compiler has no such hint.
inline void prefetch(const void* p) {
#if !defined(RUST_PORTABLE) && (defined(__GNUC__) || defined(__clang__))
    __builtin_prefetch(p);
#else
    (void)p;
#endif
}

}  // namespace rust::platform
