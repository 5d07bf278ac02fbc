"""How the three functions take their arguments and report failures."""

import decimal
import fractions
import pathlib

import pytest

import astsieve
from astsieve_cindex import cursor_tuple, translation_unit_handle as handle_of

MISMATCH = "incompatible function arguments"
INVALID_PATTERN = "("  # fails the call before the first argument is used


class Failing(Exception):
    pass


class LengthFails:
    def __len__(self):
        raise Failing("len")

    def __getitem__(self, index):
        return 0


class ItemFails:
    def __len__(self):
        return 3

    def __getitem__(self, index):
        raise Failing("item")


@pytest.fixture
def unit(parse):
    return parse({"m.c": "int f(int a) { return a; }\n"}, "m.c")


@pytest.fixture
def main(tmp_path):
    return str(tmp_path / "m.c")


@pytest.fixture
def function_decl(unit):
    (function,) = unit.cursor.get_children()
    assert function.kind.name == "FUNCTION_DECL" and function._kind_id == 8
    return cursor_tuple(function)


@pytest.fixture
def calls(unit, function_decl, main):
    """Each function with a valid first argument of a live unit."""
    return [
        (astsieve.get_path_to_lineno_to_nodes, handle_of(unit)),
        (astsieve.update_path_lineno, function_decl),
        (astsieve.get_path_to_nodes, function_decl),
    ]


def refused(function, *args, **kwargs):
    with pytest.raises(TypeError, match=MISMATCH):
        function(*args, **kwargs)


def accepted(function, first):
    # The invalid pattern ends the call after a successful conversion.
    with pytest.raises(RuntimeError):
        function(first, INVALID_PATTERN, "")


def test_exactly_three_positional_arguments(calls, main):
    for function, first in calls:
        assert function(first, "", main)
        refused(function)
        refused(function, first, "")
        refused(function, first, "", main, "")
        refused(function, first, "", main, path=main)
        refused(function, first, "", arg2=main)
        refused(function, arg0=first, arg1="", arg2=main)


def test_translation_unit_handle_range():
    function = astsieve.get_path_to_lineno_to_nodes
    for handle in (0, False, decimal.Decimal(0), fractions.Fraction(0)):
        assert function(handle, "", "m.c") == {}
    for handle in (2**64 - 1, True, 2**63):
        accepted(function, handle)
    for handle in (2**64, -1, 1.0, 0.0, None, "0", b"0", [0], 0j):
        refused(function, handle, "", "")


def test_cursor_as_any_sequence_of_the_right_shape(function_decl, main):
    kind, xdata, data = function_decl
    expected_tree = astsieve.update_path_lineno(function_decl, "", main)
    expected_children = astsieve.get_path_to_nodes(function_decl, "", main)
    assert expected_tree[main][1][0] == function_decl
    assert expected_children[main]
    for value in ([kind, xdata, data], (kind, xdata, tuple(data)), [kind, xdata, list(data)]):
        assert astsieve.update_path_lineno(value, "", main) == expected_tree
        assert astsieve.get_path_to_nodes(value, "", main) == expected_children
    # kind and xdata keep their low 32 bits.
    assert astsieve.update_path_lineno((kind + 2**32, xdata, data), "", main) == expected_tree
    assert astsieve.update_path_lineno((kind, xdata - 2**32, data), "", main) == expected_tree
    for function in (astsieve.update_path_lineno, astsieve.get_path_to_nodes):
        accepted(function, (0, 0, range(3)))
        accepted(function, (-(2**63), 2**63 - 1, [2**64 - 1, 0, 0]))
        accepted(function, (0, 0, b"abc"))
        for bad in (
            (kind, xdata, data[:2]),
            (kind, xdata, data + [0]),
            (kind, xdata, [data[0], -1, data[2]]),
            (kind, xdata, [data[0], None, data[2]]),
            (kind, xdata, [data[0], 2**64, data[2]]),
            (2**63, xdata, data),
            (kind, -(2**63) - 1, data),
            (float(kind), xdata, data),
            (kind, xdata),
            (kind, xdata, data, 0),
            {0: kind, 1: xdata, 2: data},
            {kind, xdata, 3},
            None,
            (kind, xdata, "abc"),
        ):
            refused(function, bad, "", main)


def test_string_arguments(unit, main):
    handle = handle_of(unit)
    expected = astsieve.get_path_to_lineno_to_nodes(handle, "", main)
    assert set(expected) == {main}
    assert astsieve.get_path_to_lineno_to_nodes(handle, b"", main.encode()) == expected
    assert astsieve.get_path_to_lineno_to_nodes(handle, b"\xff|.*\\.h", main.encode()) == expected
    for function, first in ((astsieve.get_path_to_lineno_to_nodes, 0), (astsieve.get_path_to_nodes, (0, 0, [0, 0, 0]))):
        for bad in ("\ud800", None, pathlib.Path(main), memoryview(b""), 0):
            refused(function, first, bad, "")
            refused(function, first, "", bad)
    # pybind11 2.13 takes a bytearray like bytes.
    assert astsieve.get_path_to_lineno_to_nodes(handle, bytearray(), bytearray(main.encode())) == expected


def test_bytes_reach_the_filter_unchanged(parse, tmp_path):
    # A header whose name is not UTF-8: accepting it makes the result
    # unrepresentable, so the decoding error shows the pattern matched.
    unit = parse({"m.c": b'#include "h\xff.h"\nint m;\n', b"h\xff.h": b"int h;\n"}, "m.c")
    main = str(tmp_path / "m.c")
    handle = handle_of(unit)
    assert set(astsieve.get_path_to_lineno_to_nodes(handle, b".*/h\xfe\\.h", main)) == {main}
    with pytest.raises(UnicodeDecodeError):
        astsieve.get_path_to_lineno_to_nodes(handle, b".*/h\xff\\.h", main)
    header = str(tmp_path).encode() + b"/h\xff.h"
    with pytest.raises(UnicodeDecodeError):
        astsieve.get_path_to_lineno_to_nodes(handle, b"", header)
    assert astsieve.get_path_to_lineno_to_nodes(handle, b"", header[:-1]) == {}


def test_file_name_that_is_not_utf8_raises_unicode_decode_error(parse, tmp_path):
    unit = parse({"m.c": b'#include "h\xff.h"\nint m;\n', b"h\xff.h": b"struct s { int h; };\n"}, "m.c")
    main = str(tmp_path / "m.c")
    top = cursor_tuple(unit.cursor)
    (header_struct, _) = unit.cursor.get_children()
    for call in (
        lambda: astsieve.get_path_to_lineno_to_nodes(handle_of(unit), ".*", main),
        lambda: astsieve.update_path_lineno(cursor_tuple(header_struct), ".*", main),
        lambda: astsieve.get_path_to_nodes(top, ".*", main),
    ):
        with pytest.raises(UnicodeDecodeError):
            call()
    assert set(astsieve.get_path_to_nodes(top, "", main)) == {main}


def test_exceptions_of_sequence_arguments_propagate_unchanged(function_decl):
    kind, xdata, _ = function_decl
    for function in (astsieve.update_path_lineno, astsieve.get_path_to_nodes):
        for bad in (LengthFails(), ItemFails(), (kind, xdata, LengthFails()), [kind, xdata, ItemFails()]):
            with pytest.raises(Failing):
                function(bad, "", "")


@pytest.mark.parametrize("pattern", ["(", "[a", "a{2,1}", "*"])
def test_invalid_pattern_raises_runtime_error(calls, main, pattern):
    for function, first in calls + [(astsieve.get_path_to_lineno_to_nodes, 0)]:
        before = function(first, "", main)
        with pytest.raises(RuntimeError) as raised:
            function(first, pattern, main)
        assert not isinstance(raised.value, ValueError)
        assert str(raised.value)
        # The failure leaves nothing behind: the next call answers as before.
        assert function(first, "", main) == before
