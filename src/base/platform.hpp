// The compiler extensions the core uses outside wide arithmetic, each behind
// one guard with a standard C++20 fallback. RUST_PORTABLE turns every one of
// them off (and selects the portable wide arithmetic, see wide.hpp), so the
// core then compiles as standard C++20 on any compiler.
#pragma once

#include <bit>
#include <cfenv>
#include <cfloat>
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

// The floating-point control and status registers, read directly where the
// instruction set is known (x86-64's MXCSR, aarch64's FPCR and FPSR).
#if !defined(RUST_PORTABLE) && (defined(__GNUC__) || defined(__clang__)) && defined(__SSE2__)
#include <xmmintrin.h>
#define RUST_FLOAT_REGISTERS_X86 1
#elif !defined(RUST_PORTABLE) && (defined(__GNUC__) || defined(__clang__)) && defined(__aarch64__)
#define RUST_FLOAT_REGISTERS_ARM 1
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

// Whether the calling thread's floating-point environment is the default
// one: rounding to nearest, ties to even, subnormals neither flushed nor
// read as zero, and (where the registers are read) every exception masked.
// Double arithmetic whose bits are proven for that environment runs only
// where this holds. Standard C++ reads the rounding mode and tells flushing
// apart by two subnormal operations. Never where doubles are evaluated in a
// wider format (FLT_EVAL_METHOD other than 0: the x87 unit of 32-bit x86),
// whose double rounding those proofs do not allow.
#if defined(RUST_FLOAT_REGISTERS_X86)
inline bool default_mxcsr(unsigned mxcsr) {
    return (mxcsr & 0xFFC0) == 0x1F80;  // DAZ, the six masks, the rounding control, FZ
}
#endif
inline bool default_float_environment() {
#if FLT_EVAL_METHOD != 0
    return false;
#elif defined(RUST_FLOAT_REGISTERS_X86)
    return default_mxcsr(_mm_getcsr());
#elif defined(RUST_FLOAT_REGISTERS_ARM)
    std::uint64_t fpcr;
    __asm__ volatile("mrs %0, fpcr" : "=r"(fpcr));
    return (fpcr & 0x03C89F07) == 0;  // the rounding mode, FZ, FZ16, DN, the trap enables, AH/FIZ/NEP
#else
    if (std::fegetround() != FE_TONEAREST) return false;
    volatile double smallest_normal = 0x1p-1022, subnormal = 0x1p-1023;
    return smallest_normal * 0.5 == 0x1p-1023 && subnormal * 2.0 == 0x1p-1022;  // not flushed, not read as zero
#endif
}

// The floating-point status flags, kept over arithmetic that raises them
// (the inexact flag, mostly) so that the caller's flags stay as they were:
// `FloatStatus saved;` before, `saved.restore();` after. On x86-64 the
// whole MXCSR is saved and written back as it was, unconditionally: reading
// it (STMXCSR) costs tens of cycles, writing it (LDMXCSR) a few, and the
// arithmetic in between changes only its flags.
class FloatStatus {
public:
    FloatStatus() {
#if defined(RUST_FLOAT_REGISTERS_X86)
        saved_ = _mm_getcsr();
#elif defined(RUST_FLOAT_REGISTERS_ARM)
        __asm__ volatile("mrs %0, fpsr" : "=r"(saved_));
#else
        std::fegetexceptflag(&saved_, FE_ALL_EXCEPT);
#endif
    }
    void restore() const {
#if defined(RUST_FLOAT_REGISTERS_X86)
        _mm_setcsr(saved_);
#elif defined(RUST_FLOAT_REGISTERS_ARM)
        std::uint64_t now;
        __asm__ volatile("mrs %0, fpsr" : "=r"(now));
        if (now != saved_) __asm__ volatile("msr fpsr, %0" : : "r"(saved_));
#else
        std::fesetexceptflag(&saved_, FE_ALL_EXCEPT);
#endif
    }
    // default_float_environment() when the flags were saved (on x86-64 from
    // the register already read).
    bool default_environment() const {
#if FLT_EVAL_METHOD == 0 && defined(RUST_FLOAT_REGISTERS_X86)
        return default_mxcsr(saved_);
#else
        return default_float_environment();
#endif
    }

private:
#if defined(RUST_FLOAT_REGISTERS_X86)
    unsigned saved_;
#elif defined(RUST_FLOAT_REGISTERS_ARM)
    std::uint64_t saved_;
#else
    std::fexcept_t saved_;
#endif
};

}  // namespace rust::platform
