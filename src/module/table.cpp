// The type exact_interp._native.Table: the typed table under
// exact_interp.Interpolator, copied and checked once, with value columns over
// the same positions; its methods answer typed queries with plain rules and
// NotImplemented for any other, which the Interpolator converts.
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <variant>

#include "module/binding.hpp"
#include "module/driver.hpp"
#include "module/native.hpp"
#include "module/numpy_api.hpp"

namespace rust::module {

namespace {

// A table with value columns over the same positions: the table's own values
// are the first column, and `values` holds every column's n values, column
// after column (the first again, so that the whole is one array; empty for
// one column).
template <class F>
struct Columned {
    piecewise::Interp<u64, F> table;
    piecewise::Knots<F> values;
    std::size_t columns = 1;
};

// The table of xp and `columns` columns of xp's length, one after another in
// values, with the front end's checks where asked; a count that does not
// divide is fatal (typed) or refused, as lengths that differ are.
template <class F>
Columned<F> make_columns(const View& xp, const View& values, Py_ssize_t columns, Threads<true> threads, Checks checks) {
    if (columns == 1) return {make_table<F>(xp, values, threads, checks), {}, 1};
    // values.length == columns · xp.length, without a product that could wrap
    const bool fits = columns >= 1 && values.length % columns == 0 && values.length / columns == xp.length;
    if (!fits) {  // the values' length per column where it divides (the front end's fp), else the count
        const bool whole = columns >= 1 && values.length % columns == 0;
        const std::string note =
            "len(xp) = " + std::to_string(xp.length) + ", " +
            (whole ? "len(fp) = " + std::to_string(values.length / columns)
                   : std::to_string(columns) + " columns of " + std::to_string(values.length) + " values");
        if (checks != Checks::Typed) throw Refused("xp and fp must have same length", note);
        throw NotedPanic("xp and fp must have same length", note);
    }
    View first;  // the first column: the table's own values (values stays referenced for the call)
    first.start = values.start;
    first.stride = values.stride;
    first.length = xp.length;
    piecewise::Interp<u64, F> table = make_table<F>(xp, first, threads, Checks::Typed, rounding_of(checks));
    piecewise::Knots<F> all = maybe_without_gil(values.length >= kReleaseGil, [&] { return copy<F>(values); });
    if (checks != Checks::Typed)
        check_front_end<F>(table, all.data() + xp.length, static_cast<std::size_t>(columns), checks);
    return {std::move(table), std::move(all), static_cast<std::size_t>(columns)};
}

// The forward over every column into a new array of columns·len(x) elements,
// column by column; each column's answers and errors those of forward_int /
// forward_float on that column, the segment of each key found once for all.
template <class F>
PyObject* evaluate_columns(const Columned<F>& c, const View& query, Threads<true> threads,
                           const piecewise::Rules<F>& rules) {
    const npy_intp columns = static_cast<npy_intp>(c.columns);
    if (query.length > 0 && columns > NPY_MAX_INTP / query.length) return PyErr_NoMemory();  // columns·len(x) wraps
    Ref result(new_result(value_element<F>, columns * query.length));
    if (!result) return nullptr;
    auto* out = static_cast<F*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(result.get())));
    const F* more = c.columns == 1 ? nullptr : c.values.data() + c.table.xp().size();  // the columns after the first
    const std::optional<piecewise::Failure> failure = maybe_without_gil(columns * query.length >= kReleaseGil, [&] {
        const parallel::Split split = parallel::split_for(static_cast<std::size_t>(query.length), threads.workers);
        return parallel::forward_columns(c.table, query.strided<u64>(), more, c.columns, out, split, rules);
    });
    if (failure) {  // the note names the element and the positions, which every column shares
        const Note note = failure_note<Direction::Forward>(c.table, query, *failure);
        raise_interp_error(Direction::Forward, failure->error, failure->index);
        if (!note.empty()) add_note(note);
        return nullptr;
    }
    return result.release();
}

// The typed table under exact_interp.Interpolator: uint64 positions with
// int64 or float64 values, copied and checked once, immutable: calls from any
// number of threads only read it. It knows nothing of the caller's kinds
// (exact_interp.Interpolator keeps them); a query of another kind than the
// typed one is the front end's to convert. Its values may be several columns
// over the same positions (the forward only).
using TableVariant = std::variant<Columned<i64>, Columned<f64>>;

struct Table {
    PyObject_HEAD TableVariant* table;  // owned; never null once tp_new has returned the object
    Checks checks;                      // how its knots were checked
};

TableVariant& table_of(PyObject* self) { return *reinterpret_cast<Table*>(self)->table; }

constexpr const char* kTableParams[] = {"xp", "fp", "columns", "_checks"};
constexpr const char* kForwardMethodParams[] = {"x", "workers", "left", "right", "missing", "_nat"};
constexpr const char* kInverseMethodParams[] = {"f", "method", "workers", "left", "right", "missing", "_nat"};

// The words of Table's _checks: "forward" (the default: an Interpolator's),
// "inverse" (exact_interp.inverse's), "typed" (the typed functions').
constexpr const char* kChecksWords[] = {"typed", "forward", "inverse"};  // in the order of Checks
static_assert(static_cast<int>(Checks::Typed) == 0 && static_cast<int>(Checks::Inverse) == 2);

bool parse_checks(PyObject* word, Checks& checks) {
    const char* text = PyUnicode_Check(word) ? PyUnicode_AsUTF8AndSize(word, nullptr) : nullptr;
    for (int k = 0; text != nullptr && k < 3; ++k)
        if (std::strcmp(text, kChecksWords[k]) == 0) {
            checks = static_cast<Checks>(k);
            return true;
        }
    if (!PyErr_Occurred()) PyErr_SetString(PyExc_ValueError, "_checks must be 'forward', 'inverse' or 'typed'");
    return false;
}

// Table(xp, fp, columns=1): the typed functions' arguments and messages; fp's
// dtype chooses the scheme, and holds `columns` columns of xp's length, one
// after another.
PyObject* table_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    PyObject* module = module_of_type(type);
    if (module == nullptr) return nullptr;
    return in_module(module, [&]() -> PyObject* {
        static constexpr Signature sig{"Table", kTableParams, 4, 4, 2};
        // The tuple and dict of a type call, as the vector binding reads them.
        const Py_ssize_t nargs = PyTuple_Size(args), nkw = kwargs ? PyDict_Size(kwargs) : 0;
        if (nargs < 0 || nkw < 0) return nullptr;
        std::unique_ptr<PyObject*[]> flat(new PyObject*[static_cast<std::size_t>(nargs + nkw) + 1]);
        for (Py_ssize_t k = 0; k < nargs; ++k) flat[static_cast<std::size_t>(k)] = PyTuple_GetItem(args, k);
        Ref kwnames;
        if (nkw > 0) {
            kwnames = Ref(PyTuple_New(nkw));
            if (!kwnames) return nullptr;
            PyObject *key, *value;
            Py_ssize_t pos = 0, j = 0;
            while (PyDict_Next(kwargs, &pos, &key, &value)) {
                Py_INCREF(key);
                PyTuple_SetItem(kwnames.get(), j, key);  // steals the new reference
                flat[static_cast<std::size_t>(nargs + j++)] = value;
            }
        }
        PyObject* bound[4] = {};
        if (!bind(sig, flat.get(), nargs, kwnames.get(), bound)) return nullptr;
        if (!ensure_numpy_api()) return nullptr;
        View xp, fp;
        if (!accept(bound[0], Element::U64, "xp", xp)) return nullptr;
        // float64 values take the float scheme, ndarray subclasses too (the typed functions take them)
        const bool is_float =
            PyArray_Check(bound[1]) && PyArray_DESCR(reinterpret_cast<PyArrayObject*>(bound[1]))->kind == 'f';
        if (!accept(bound[1], is_float ? Element::F64 : Element::I64, "fp", fp)) return nullptr;
        const Py_ssize_t columns = bound[2] != nullptr ? PyLong_AsSsize_t(bound[2]) : 1;
        if (columns == -1 && PyErr_Occurred()) return nullptr;
        Checks checks = Checks::Forward;
        if (bound[3] != nullptr && !parse_checks(bound[3], checks)) return nullptr;
        const Threads<true> threads{0};
        std::unique_ptr<TableVariant> table(
            is_float ? new TableVariant(make_columns<f64>(xp, fp, columns, threads, checks))
                     : new TableVariant(make_columns<i64>(xp, fp, columns, threads, checks)));
        Ref self(PyType_GenericAlloc(type, 0));
        if (!self) return nullptr;
        reinterpret_cast<Table*>(self.get())->table = table.release();
        reinterpret_cast<Table*>(self.get())->checks = checks;
        return self.release();
    });
}

void table_dealloc(PyObject* self) {
    delete reinterpret_cast<Table*>(self)->table;
    PyTypeObject* type = Py_TYPE(self);
    auto free = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
    free(self);
    Py_DECREF(type);  // instances of a heap type hold a reference to it
}

// A call of one method on the table, holding a reference to the object for
// the whole call, as the GIL is released while it runs: a query of the typed
// dtype with plain rules as the typed functions take it; NotImplemented for
// any other, which exact_interp.Interpolator converts. Every parameter may be
// given by position.
template <Direction D>
PyObject* table_call(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* module = module_of_type(Py_TYPE(self));
    if (module == nullptr) return nullptr;
    return in_module(module, [&]() -> PyObject* {
        static constexpr Signature forward{"forward", kForwardMethodParams, 6, 6, 1};
        static constexpr Signature inverse{"inverse", kInverseMethodParams, 7, 7, 1};
        const Signature& sig = D == Direction::Forward ? forward : inverse;
        PyObject* bound[Signature::kMaxParams] = {};
        if (!bind(sig, args, nargs, kwnames, bound)) return nullptr;
        if (!ensure_numpy_api()) return nullptr;
        const Ref keep = Ref::borrow(self);
        const bool is_int = std::holds_alternative<Columned<i64>>(table_of(self));
        const Element query = D == Direction::Forward ? Element::U64 : (is_int ? Element::I64 : Element::F64);
        if (!is_typed(bound[0], query) || !plain_rules(bound + (D == Direction::Forward ? 2 : 3)))
            Py_RETURN_NOTIMPLEMENTED;
        return std::visit(
            [&]<class F>(const Columned<F>& c) -> PyObject* {
                View q;
                if (!accept(bound[0], Elements<D, F>::query, sig.names[0], q)) return nullptr;
                InverseMethod method = InverseMethod::Exact;
                if constexpr (D == Direction::Inverse) {
                    if (c.columns != 1) {
                        PyErr_Format(PyExc_TypeError, "the inverse needs one column of values, not %zd",
                                     static_cast<Py_ssize_t>(c.columns));
                        return nullptr;
                    }
                    if (!parse_method_noted(bound[1], method)) return nullptr;
                }
                constexpr int workers = D == Direction::Forward ? 1 : 2;
                Threads<true> threads{0};
                if (!parse_workers(bound[workers], threads.workers)) return nullptr;
                piecewise::Rules<typename Elements<D, F>::Out> rules;
                bool given = false;
                if (!parse_rules<D>(bound + workers + 1, method, rules, given)) return nullptr;
                if constexpr (D == Direction::Forward) {
                    if (c.columns != 1) return evaluate_columns(c, q, threads, rules);
                }
                return evaluate<D, F>(c.table, q, method, threads, given ? &rules : nullptr);
            },
            table_of(self));
    });
}

// A read-only array over one of the table's knot vectors, which keeps the
// object (and so the vector) alive.
template <class T>
PyObject* knots_view(PyObject* self, const piecewise::Knots<T>& knots) {
    if (!ensure_numpy_api()) return nullptr;
    constexpr Element element = std::is_same_v<T, u64> ? Element::U64 : value_element<T>;
    return read_only_view(element, knots.data(), static_cast<npy_intp>(knots.size()), self);
}

PyObject* table_xp(PyObject* self, void*) {
    return in_module(module_of_type(Py_TYPE(self)), [&] {
        return std::visit([&](const auto& c) { return knots_view(self, c.table.xp()); }, table_of(self));
    });
}

PyObject* table_fp(PyObject* self, void*) {
    return in_module(module_of_type(Py_TYPE(self)), [&] {
        return std::visit([&](const auto& c) { return knots_view(self, c.columns == 1 ? c.table.fp() : c.values); },
                          table_of(self));
    });
}

PyObject* table_columns(PyObject* self, void*) {
    return PyLong_FromSize_t(std::visit([](const auto& c) { return c.columns; }, table_of(self)));
}

PyObject* table_checks(PyObject* self, void*) {
    return PyUnicode_FromString(kChecksWords[static_cast<int>(reinterpret_cast<Table*>(self)->checks)]);
}

// Pickled as the call that rebuilds it: Table(xp, fp, columns, _checks).
PyObject* table_reduce(PyObject* self, PyObject*) {
    const Ref xp(table_xp(self, nullptr));
    if (!xp) return nullptr;
    const Ref fp(table_fp(self, nullptr));
    if (!fp) return nullptr;
    const Ref columns(table_columns(self, nullptr));
    if (!columns) return nullptr;
    const Ref typed(table_checks(self, nullptr));
    if (!typed) return nullptr;
    return Py_BuildValue("O(OOOO)", reinterpret_cast<PyObject*>(Py_TYPE(self)), xp.get(), fp.get(), columns.get(),
                         typed.get());
}

template <Direction D>
PyObject* method_entry(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return table_call<D>(self, args, nargs, kwnames);
}

PyMethodDef table_methods[] = {
    {"forward", function(&method_entry<Direction::Forward>), METH_FASTCALL | METH_KEYWORDS,
     "forward($self, x, workers=None, left='raise', right='raise', missing='raise', _nat=False)\n--\n\n"
     "forward_int or forward_float with these knots; over value columns, columns·len(x) elements, column after "
     "column. NotImplemented for a query of another dtype or a rule that is not plain."},
    {"inverse", function(&method_entry<Direction::Inverse>), METH_FASTCALL | METH_KEYWORDS,
     "inverse($self, f, method=None, workers=None, left=None, right=None, missing='raise', _nat=False)\n--\n\n"
     "inverse_int or inverse_float with these knots. NotImplemented for a query of another dtype or a rule that "
     "is not plain."},
    {"__reduce__", table_reduce, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef table_getset[] = {
    {"xp", table_xp, nullptr, "The positions (uint64): a read-only view of the table's copy.", nullptr},
    {"fp", table_fp, nullptr,
     "The values (int64 or float64), every column one after another: a read-only view of the table's copy.", nullptr},
    {"columns", table_columns, nullptr, "The number of value columns.", nullptr},
    {"_checks", table_checks, nullptr, "How the knots were checked: 'forward', 'inverse' or 'typed'.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot table_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(table_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(table_dealloc)},
    {Py_tp_methods, table_methods},
    {Py_tp_getset, table_getset},
    {Py_tp_doc, const_cast<char*>("Table(xp, fp, columns=1, _checks='forward')\n--\n\nThe typed knots of an "
                                  "exact_interp.Interpolator, checked as the front end checks them.")},
    {0, nullptr},
};

PyType_Spec table_spec = {"exact_interp._native.Table", sizeof(Table), 0, Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE,
                          table_slots};

}  // namespace

PyObject* new_table_type(PyObject* module) { return PyType_FromModuleAndSpec(module, &table_spec, nullptr); }

}  // namespace rust::module
