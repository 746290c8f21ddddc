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
// This is the exact path: every decision is the sign of a sum of a few
// products w·c (w a whole number below 2^64 with its sign, c a double), taken
// in integer arithmetic over the whole finite double range (sum_sign). It is
// simple and slow on purpose: a fast path that estimates the rational in
// double-double hands it only the keys whose estimate cannot decide.
#pragma once

#include <optional>

#include "base/base.hpp"

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

// Precondition x0 < x1, f0 and f1 finite.
Value forward(u64 x, u64 x0, f64 f0, u64 x1, f64 f1);

// The whole position by the method, or nothing: Exact and p not whole, or a
// position beyond uint64's range (`overflow` set; so is any p at 2^64 or more
// from x0, whatever the method). Precondition f0 < f1, all three finite; x0
// and x1 in any order.
std::optional<u64> inverse(f64 f, u64 x0, f64 f0, u64 x1, f64 f1, InverseMethod method, bool& overflow);

}  // namespace rust::schemes::rounded
