// The float scheme of the front end: the exact rational of the inputs, rounded
// once, where the typed functions keep the 64-bit chain (Forward<u64, f64>,
// Inverse<f64, u64>) bit for bit.
//   forward  the double nearest v = (f0·(x1 − x) + f1·(x − x0)) / (x1 − x0),
//            ties to even; a zero result is +0.0; beyond the largest double an
//            overflow
//   inverse  p = (x0·(f1 − f) + x1·(f − f0)) / (f1 − f0) rounded by the
//            method: Nearest to the nearest whole position (ties to even),
//            Ffill down, Bfill up, Exact only where p is whole
// Positions are uint64 keys (signed positions biased by 2^63: differences and
// whole positions are the same), values finite doubles taken as the rationals
// they are. x may lie outside [x0, x1] and f outside [f0, f1]: the same
// formulas over the segment extrapolate it.
//
// Two paths reach these bits. The fast path estimates the rational in
// double-double with a proven bound and answers wherever the bound cannot
// reach a rounding boundary (a midpoint between doubles forward; a whole or
// half position inverse). Every other key takes the exact path: the sign of
// a sum of a few products w·c (w a whole number below 2^64 with its sign, c
// a double), taken in integer arithmetic over the whole finite double range
// (sum_sign). The fast path runs only in the default floating-point
// environment, whose bits its proof assumes; elsewhere every key takes the
// exact path, so neither depends on the caller's environment, and the
// caller's status flags are kept.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "base/base.hpp"
#include "base/platform.hpp"
#include "schemes/schemes.hpp"

namespace rust::schemes::rounded {

// One product ±w·c of a sum whose sign is asked: w a magnitude below 2^64,
// `negative` its sign, c a finite double; scaled by 2^shift (0 or 1).
struct Product {
    u64 w;
    bool negative;
    f64 c;
    int shift = 0;
};

// The sign (-1, 0, 1) of the exact sum of up to eight products.
int sum_sign(const Product* products, int count);

struct Value {
    f64 value;      // the rounded quotient; unspecified where `overflow`
    bool overflow;  // the quotient rounds beyond the largest double
};

// The exact path of one key. forward: precondition x0 < x1, f0 and f1
// finite. inverse: the whole position by the method, or nothing: Exact and
// p not whole, or a position beyond uint64's range (`overflow` set; so is
// any p at 2^64 or more from x0, whatever the method); precondition
// f0 < f1, all three finite, x0 and x1 in any order.
Value forward_exact(u64 x, u64 x0, f64 f0, u64 x1, f64 f1);
std::optional<u64> inverse_exact(f64 f, u64 x0, f64 f0, u64 x1, f64 f1, InverseMethod method, bool& overflow);

// The whole-number form of one key strictly inside its segment (x0 < x <
// x1, f0 and f1 finite): the forward's answer in integer arithmetic alone,
// where the values' exponents lie close enough (each value's odd part
// brought to the lower exponent stays below 2^62), the quotient keeps 54
// bits and the answer is a normal double; nothing otherwise. No
// floating-point operation: it answers in any environment, and the
// caller's status flags stay as they were.
std::optional<f64> forward_whole(u64 x, u64 x0, f64 f0, u64 x1, f64 f1);

// The same answers, the fast path first. Here and below a non-finite knot
// value is fatal (f0 first; the inverse's f before them), as in the float
// schemes.
Value forward(u64 x, u64 x0, f64 f0, u64 x1, f64 f1);
std::optional<u64> inverse(f64 f, u64 x0, f64 f0, u64 x1, f64 f1, InverseMethod method, bool& overflow);

// Runs of keys over one segment, prepared once: forward, positions
// x[0 … count-1] strictly inside (x0, x1), whose answers lie between f0 and
// f1; inverse, values strictly inside (f0, f1), up to the first without a
// whole position (Exact), returning how many were answered.
void forward(const u64* x, std::size_t count, u64 x0, f64 f0, u64 x1, f64 f1, f64* out);
std::size_t inverse(const f64* f, std::size_t count, u64 x0, f64 f0, u64 x1, f64 f1, InverseMethod method, u64* out);

// Keys beyond the segment, continued into out: as schemes::extrapolate, an
// answer outside [lowest, highest] (or beyond the largest double, or a
// non-finite value to the inverse) is Overflow, and the inverse's Exact
// stops at NotFound.
Stop extrapolate(const u64* x, std::size_t count, u64 x0, f64 f0, u64 x1, f64 f1, f64 lowest, f64 highest, f64* out);
Stop extrapolate(const f64* f, std::size_t count, u64 x0, f64 f0, u64 x1, f64 f1, InverseMethod method, u64 lowest,
                 u64 highest, u64* out);

// An evaluation's hold on the floating-point environment: while one lives
// on a thread, the keys evaluated there read the environment once (when the
// outermost began) and the caller's status flags are put back once (when it
// ends), instead of at every run or key.
class Scope {
public:
    Scope();
    ~Scope();
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;
    // Whether the environment read when the outermost began is the default
    // one, in which the fast paths run.
    bool fast() const { return fast_; }

private:
    platform::FloatStatus status_;
    bool fast_;
};

// Keys on this thread since it started, and how many the fast path did not
// answer: counted where the core is built with RUST_FAST_PATH_COUNTS (the
// tests and benchmarks), zeros otherwise.
struct Counts {
    std::uint64_t keys, exact;
    std::uint64_t whole;  // keys alone answered by the whole-number form (not in keys)
};
Counts counts();

}  // namespace rust::schemes::rounded
