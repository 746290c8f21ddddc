// _udiv128 as Microsoft documents it, for compilers that lack it: the
// quotient of (hi·2^64 + lo) / d, the remainder in *rem; one x86-64 divq.
// Precondition (as there): hi < d.
#pragma once
static inline unsigned long long _udiv128(unsigned long long hi, unsigned long long lo, unsigned long long d,
                                          unsigned long long* rem) {
    unsigned long long q, r;
    __asm__("divq %[d]" : "=a"(q), "=d"(r) : [d] "r"(d), "a"(lo), "d"(hi) : "cc");
    *rem = r;
    return q;
}
