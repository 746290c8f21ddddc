#include "piecewise/piecewise.hpp"

namespace rust::piecewise {

template <class X, class F>
std::optional<Failure> Interp<X, F>::forward_all(Strided<X> query, F* out) const {
    for (std::size_t i = 0; i < query.length; ++i) {
        const Result<F> r = forward(query[i]);
        if (!r.ok) [[unlikely]]
            return Failure{i, r.error};
        out[i] = r.value;
    }
    return std::nullopt;
}

template <class X, class F>
std::optional<Failure> Interp<X, F>::inverse_all(Strided<F> query, InverseMethod method, X* out) const {
    for (std::size_t i = 0; i < query.length; ++i) {
        const Result<X> r = inverse(query[i], method);
        if (!r.ok) [[unlikely]]
            return Failure{i, r.error};
        out[i] = r.value;
    }
    return std::nullopt;
}

template class Interp<u64, i64>;
template class Interp<u64, f64>;

}  // namespace rust::piecewise
