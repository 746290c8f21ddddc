"""Argument binding and the parsing of `method`."""

import re

import numpy as np
import pytest
from helpers import Nul, assert_note, f64, i64, u64

XP, FP = u64(0, 10), i64(0, 4)
FORWARD = ["forward_int", "forward_float"]
INVERSE = ["inverse_int", "inverse_float"]


def args_for(name):
    if name == "forward_int":
        return u64(5), XP, FP
    if name == "forward_float":
        return u64(5), XP, f64(0.0, 4.0)
    if name == "inverse_int":
        return i64(2), XP, FP
    return f64(2.0), XP, f64(0.0, 4.0)


def raises_type_error(text):
    return pytest.raises(TypeError, match="^" + re.escape(text) + "$")


@pytest.mark.parametrize("name", FORWARD)
def test_forward_takes_three_positional(rust, name):
    with raises_type_error(f"{name}() takes 3 positional arguments but 4 were given"):
        getattr(rust, name)(*args_for(name), None)


@pytest.mark.parametrize("name", INVERSE)
def test_inverse_takes_three_to_four_positional(rust, name):
    with raises_type_error(f"{name}() takes from 3 to 4 positional arguments but 5 were given"):
        getattr(rust, name)(*args_for(name), None, None)


@pytest.mark.parametrize("name", FORWARD + INVERSE)
def test_multiple_values(rust, name):
    a = args_for(name)
    first = "x" if name in FORWARD else "f"
    with raises_type_error(f"{name}() got multiple values for argument '{first}'"):
        getattr(rust, name)(*a, **{first: a[0]})
    with raises_type_error(f"{name}() got multiple values for argument 'fp'"):
        getattr(rust, name)(*a, fp=a[2])


@pytest.mark.parametrize("keyword", ["method", "workers", "left", "right", "missing", "_nat"])
def test_unexpected_keyword(rust, keyword):
    # the keywords of exact_interp are unknown to rust
    with raises_type_error(f"forward_float() got an unexpected keyword argument '{keyword}'"):
        rust.forward_float(*args_for("forward_float"), **{keyword: None})
    with raises_type_error("inverse_int() got an unexpected keyword argument 'ünïcode'"):
        rust.inverse_int(*args_for("inverse_int"), **{"ünïcode": 1})


def test_first_offending_keyword_wins(rust):
    a = args_for("inverse_int")
    with raises_type_error("inverse_int() got an unexpected keyword argument 'zz'"):
        rust.inverse_int(a[0], a[1], zz=1, f=a[0], fp=a[2])
    with raises_type_error("inverse_int() got multiple values for argument 'f'"):
        rust.inverse_int(a[0], a[1], f=a[0], zz=1, fp=a[2])
    # too many positional arguments are reported before any keyword
    with raises_type_error("inverse_int() takes from 3 to 4 positional arguments but 5 were given"):
        rust.inverse_int(*a, None, None, zz=1)


@pytest.mark.parametrize(
    "name, given, message",
    [
        ("inverse_int", 2, "inverse_int() missing 1 required positional argument: 'fp'"),
        ("inverse_int", 0, "inverse_int() missing 3 required positional arguments: 'f', 'xp', and 'fp'"),
        ("forward_int", 0, "forward_int() missing 3 required positional arguments: 'x', 'xp', and 'fp'"),
        ("forward_float", 1, "forward_float() missing 2 required positional arguments: 'xp' and 'fp'"),
    ],
)
def test_missing_arguments(rust, name, given, message):
    with raises_type_error(message):
        getattr(rust, name)(*args_for(name)[:given])


def test_missing_after_keywords(rust):
    with raises_type_error("forward_int() missing 2 required positional arguments: 'x' and 'fp'"):
        rust.forward_int(xp=XP)


@pytest.mark.parametrize("name", FORWARD + INVERSE)
def test_keywords_in_any_order(rust, name):
    a = args_for(name)
    first = "x" if name in FORWARD else "f"
    fn = getattr(rust, name)
    expected = fn(*a)
    assert fn(fp=a[2], **{first: a[0]}, xp=a[1]).tolist() == expected.tolist()
    assert fn(a[0], fp=a[2], xp=a[1]).tolist() == expected.tolist()


@pytest.mark.parametrize("name", INVERSE)
def test_method_by_position_keyword_none_and_absent(rust, name):
    fn = getattr(rust, name)
    f = i64(1, 3) if name == "inverse_int" else f64(1.0, 3.0)
    fp = FP if name == "inverse_int" else f64(0.0, 4.0)
    assert fn(f, XP, fp, "nearest").tolist() == fn(f, XP, fp, method="nearest").tolist() == [2, 8]
    assert fn(f, XP, fp, "ffill").tolist() == [2, 7]
    assert fn(f, XP, fp, "bfill").tolist() == [3, 8]
    exact = i64(2) if name == "inverse_int" else f64(2.0)
    assert fn(exact, XP, fp, None).tolist() == fn(exact, XP, fp).tolist() == [5]


class Text(str):
    pass


@pytest.mark.parametrize("name", INVERSE)
def test_str_subclass_is_a_method(rust, name):
    a = args_for(name)
    assert getattr(rust, name)(*a, Text("nearest")).tolist() == [5]


@pytest.mark.parametrize(
    "method", ["Nearest", "NEAREST", "", " nearest", "nearest ", "near", "ffill\0", "bfil", "nearest\u0301"]
)
def test_bad_method_words(functions, method):
    with pytest.raises(ValueError) as info:
        functions.inverse_int(*args_for("inverse_int"), method)
    assert info.value.args == ("method must be either None, 'nearest', 'ffill' or 'bfill'",)
    assert_note(functions, info.value, f"given method={method!r}: None (a whole position only), 'nearest'")


@pytest.mark.parametrize(
    "value, type_name",
    [(1, "int"), (b"nearest", "bytes"), (1.5, "float"), (["nearest"], "list"), (np.str_, "type"), (Nul(), "a\x00b")],
)
def test_method_of_wrong_type(rust, value, type_name):
    with raises_type_error(f"argument 'method': '{type_name}' object cannot be converted to 'PyString'"):
        rust.inverse_float(*args_for("inverse_float"), value)


def test_nested_class_name_is_qualified(rust):
    class Outer:
        class Inner:
            pass

    with raises_type_error(
        "argument 'method': 'test_nested_class_name_is_qualified.<locals>.Outer.Inner' object cannot be converted to "
        "'PyString'"
    ):
        rust.inverse_int(*args_for("inverse_int"), Outer.Inner())


def test_lone_surrogate_raises_unicode_encode_error_unchanged(rust):
    with pytest.raises(UnicodeEncodeError) as info:
        rust.inverse_int(*args_for("inverse_int"), "near\udc80")
    assert "argument" not in str(info.value)


def test_module_attributes(rust):
    assert rust.__all__ == ["forward_int", "forward_float", "inverse_int", "inverse_float"]
    assert rust.__doc__ == ""
    own = {k for k in vars(rust) if not k.startswith("__")}
    assert own == set(rust.__all__)
    assert "PanicException" not in vars(rust)
    for name, sig in [
        ("forward_int", "(x, xp, fp)"),
        ("forward_float", "(x, xp, fp)"),
        ("inverse_int", "(f, xp, fp, method=None)"),
        ("inverse_float", "(f, xp, fp, method=None)"),
    ]:
        fn = getattr(rust, name)
        assert fn.__text_signature__ == sig
        assert fn.__doc__ is None
        assert fn.__module__ == "rust"
        assert fn.__self__ is rust
        assert fn.__name__ == name
