"""Fuzz target for astsieve's Python surface (run by scripts/fuzz_surface.sh).

Every input becomes one call of one of the three functions with a live
translation unit, or of one of the companion's three queries
(astsieve_cindex), which check their arguments natively too. The first argument is a real handle or a real cursor of
that unit in one of many forms that convert to it (ints, int-likes, int
subclasses, lists, tuples, custom sequences, kind and xdata with other high
bits), or a shape that the conversion must refuse, or a sequence that
misbehaves on purpose. Forged handles and cursors are never built: libclang
would crash on them, and keeping them away is the caller's duty. Patterns and
main paths are random bytes, random text, pattern-like token soups and the
unit's own paths.

A call may return or raise one of the expected errors. Anything else is a
finding, and so is a result that is not the documented shape or holds a
cursor that is not one of the unit's (for the companion: a Cursor of another
unit, or a view that disagrees with its own plain form).
"""

import os
import pathlib
import sys
import tempfile

import atheris

import astsieve_cindex

cindex = astsieve_cindex.load_cindex()

import astsieve  # noqa: E402
from astsieve_cindex import cursor_tuple, translation_unit_handle  # noqa: E402

EXPECTED = (TypeError, RuntimeError, MemoryError, ValueError, UnicodeDecodeError)
INT64 = range(-(2**63), 2**63)
UINT64 = range(0, 2**64)
LINES = range(0, 2**32)


class FuzzError(Exception):
    """Raised by the fuzzer's own misbehaving objects."""


# --- the live unit -----------------------------------------------------------

HEADER = (
    b"struct point { int x, y; };\n"
    b"#define TWICE(v) ((v) + (v))\n"
    b"static inline int twice(int v) { return TWICE(v); }\n"
)
MAIN = (
    b'#include "inc/aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa/shapes.h"\n'
    b'#include "odd\xff.h"\n'
    b"#define SQUARE(v) ((v) * (v))\n"
    b"int area(struct point p) {\n"
    b"  int total = 0;\n"
    b"  for (int i = 0; i < p.x; ++i) { if (i % 2) { total += SQUARE(i) + twice(p.y); } }\n"
    b"  return total;\n"
    b"}\n"
    b"int a, b = SQUARE(3); struct point origin = {0, 0};\n"
)

DIRECTORY = tempfile.mkdtemp(prefix="astsieve-fuzz-")


def write(relative, text):
    path = os.path.join(os.fsencode(DIRECTORY), relative)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as out:
        out.write(text)
    return path


HEADER_PATH = write(b"inc/aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa/shapes.h", HEADER)
ODD_PATH = write(b"odd\xff.h", b"int odd;\n")
MAIN_PATH = write(b"m.c", MAIN)
UNIT = cindex.TranslationUnit.from_source(os.fsdecode(MAIN_PATH), args=["-I", DIRECTORY])
HANDLE = translation_unit_handle(UNIT)


def real_cursors():
    """Cursors of the unit reached by visiting and by following references,
    and everything below each of them: all that a call may return."""
    roots = list(UNIT.cursor.walk_preorder())
    for cursor in list(roots):
        for other in (cursor.referenced, cursor.semantic_parent, cursor.lexical_parent):
            if other is not None and not other.kind.is_invalid():
                roots.append(other)
    known = {}
    for root in roots:
        for cursor in root.walk_preorder():
            node = cursor_tuple(cursor)
            known[(node[0], node[1], tuple(node[2]))] = node
    return list(known.values())


CURSORS = real_cursors()
KNOWN = {(kind, xdata, tuple(data)) for kind, xdata, data in CURSORS}
PATHS = [MAIN_PATH, HEADER_PATH, ODD_PATH, b"", b"m.c", os.path.join(os.fsencode(DIRECTORY), b"./m.c")]
PATTERN_TOKENS = [
    "(", ")", "(?:", "(?=", "(?!", "|", "*", "+", "?", "*?", "{2}", "{1,3}", "{0,}", "{3,1}",
    "[a-z]", "[^/]", "[", "]", "\\d", "\\w", "\\s", "\\b", "\\B", "\\1", "\\2", ".", "^", "$",
    "\\", "/", "a", "aa", "inc", "shapes", "\\.h", "\\.c", ".*", "[[:alpha:]]", "\\x41", "\\u0041",
    "\\0", "\\/", "-", ",", "}", "{",
    # Pieces that make a match backtrack hard over the header's run of a's.
    "(a|a)*", "((a|a)*)", "(a*)*", "(a+)+", "\\1x", "{0,40}", "(?=(?=(?=", ")))",
]


# --- values that convert to a given one, or are refused -----------------------


class IndexLike:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


class IntLike:
    def __init__(self, value):
        self.value = value

    def __int__(self):
        return self.value


class RaisingNumber:
    def __index__(self):
        raise FuzzError("__index__")

    def __int__(self):
        raise FuzzError("__int__")


class WrongNumber:
    def __index__(self):
        return "not an int"


class SubInt(int):
    pass


def integer(fdp, value, signed):
    """`value` in a form that converts to it; for kind and xdata (signed)
    possibly with other high bits, which the engine drops."""
    choice = fdp.ConsumeIntInRange(0, 5)
    if choice == 1:
        return IndexLike(value)
    if choice == 2:
        return IntLike(value)
    if choice == 3:
        return SubInt(value)
    if choice == 4 and value in (0, 1):
        return bool(value)
    if choice == 5 and signed:
        shifted = value + fdp.ConsumeIntInRange(-(2**31), 2**31) * 2**32
        if shifted in INT64:
            return shifted
    return value


def refused_integer(fdp, signed):
    """A value that the integer conversion must refuse."""
    return [
        None, 1.0, float("nan"), "1", b"1", [1], RaisingNumber(), WrongNumber(), 1j,
        2**63 if signed else 2**64, -(2**63) - 1 if signed else -1, 2**200,
    ][fdp.ConsumeIntInRange(0, 11)]


class Sequence:
    """A plain sequence over `items`; the misbehaving variants below break
    one part of the protocol."""

    def __init__(self, items):
        self.items = items

    def __len__(self):
        return len(self.items)

    def __getitem__(self, index):
        if not 0 <= index < len(self.items):
            raise FuzzError("index out of range")
        return self.items[index]


class LengthRaises(Sequence):
    def __len__(self):
        raise FuzzError("__len__")


class LengthLies(Sequence):
    def __len__(self):
        return len(self.items) + 1


class LengthNegative(Sequence):
    def __len__(self):
        return -1


class LengthHuge(Sequence):
    def __len__(self):
        return 2**70


class LengthNotInt(Sequence):
    def __len__(self):
        return "3"


class ItemRaises(Sequence):
    def __getitem__(self, index):
        raise FuzzError("__getitem__")


class ItemTurnsBad(Sequence):
    """Gives each item once; asked again, gives something unconvertible."""

    def __init__(self, items):
        super().__init__(items)
        self.seen = set()

    def __getitem__(self, index):
        if index in self.seen:
            return None
        self.seen.add(index)
        return super().__getitem__(index)


MISBEHAVING = [LengthRaises, LengthLies, LengthNegative, LengthHuge, LengthNotInt, ItemRaises, ItemTurnsBad]


def sequence(fdp, items):
    """`items` as a tuple, a list or a custom sequence, or as a sequence
    that misbehaves, or as a container that is not a sequence."""
    choice = fdp.ConsumeIntInRange(0, 7 + len(MISBEHAVING))
    if choice <= 2:
        return tuple(items)
    if choice <= 4:
        return list(items)
    if choice == 5:
        return Sequence(items)
    if choice == 6:
        return dict(enumerate(items))
    if choice == 7:
        return iter(items)
    return MISBEHAVING[choice - 8](items)


def cursor_argument(fdp):
    """A real cursor in some form, or a shape that is refused."""
    kind, xdata, data = CURSORS[fdp.ConsumeIntInRange(0, len(CURSORS) - 1)]
    head = [integer(fdp, kind, True), integer(fdp, xdata, True)]
    words = [integer(fdp, word, False) for word in data]
    damage = fdp.ConsumeIntInRange(0, 9)
    if damage == 1:
        head[fdp.ConsumeIntInRange(0, 1)] = refused_integer(fdp, True)
    elif damage == 2:
        words[fdp.ConsumeIntInRange(0, 2)] = refused_integer(fdp, False)
    elif damage == 3:
        words = words[: fdp.ConsumeIntInRange(0, 2)] if fdp.ConsumeBool() else words + [0]
    items = head + [sequence(fdp, words)]
    if damage == 4:
        items = items[:2] if fdp.ConsumeBool() else items + [0]
    return sequence(fdp, items)


def handle_argument(fdp):
    choice = fdp.ConsumeIntInRange(0, 3)
    if choice == 0:
        return refused_integer(fdp, False)
    return integer(fdp, HANDLE if choice > 1 else 0, False)


def text(fdp):
    """Random bytes or random text (which may hold lone surrogates)."""
    size = fdp.ConsumeIntInRange(0, 64)
    return fdp.ConsumeBytes(size) if fdp.ConsumeBool() else fdp.ConsumeUnicode(size)


def as_str_or_bytes(fdp, value):
    if isinstance(value, bytes) and fdp.ConsumeBool():
        return os.fsdecode(value)
    return value


def refused_string(fdp):
    return [None, bytearray(b"a"), pathlib.Path("m.c"), 0, memoryview(b"a")][fdp.ConsumeIntInRange(0, 4)]


def nested_lookaheads(fdp):
    """Lookaheads nested around a back-reference, up to past the nesting
    budget."""
    depth = fdp.ConsumeIntInRange(0, 800)
    return "(?=" * depth + "(.)" + ")" * depth + ".*\\1.*"


def pattern_argument(fdp):
    choice = fdp.ConsumeIntInRange(0, 8)
    if choice == 8:
        return nested_lookaheads(fdp)
    if choice == 0:
        return ""
    if choice == 1:
        return text(fdp)
    if choice == 2:
        return refused_string(fdp)
    if choice == 3:
        return as_str_or_bytes(fdp, PATHS[fdp.ConsumeIntInRange(0, len(PATHS) - 1)])
    pieces = []
    for _ in range(fdp.ConsumeIntInRange(1, 24)):
        if fdp.ConsumeIntInRange(0, 5) == 0:
            pieces.append(fdp.ConsumeUnicode(2))
        else:
            pieces.append(PATTERN_TOKENS[fdp.ConsumeIntInRange(0, len(PATTERN_TOKENS) - 1)])
    soup = "".join(pieces)
    return soup.encode("utf-8", "surrogatepass") if fdp.ConsumeBool() else soup


def main_path_argument(fdp):
    choice = fdp.ConsumeIntInRange(0, 5)
    if choice == 0:
        return text(fdp)
    if choice == 1:
        return refused_string(fdp)
    return as_str_or_bytes(fdp, PATHS[fdp.ConsumeIntInRange(0, len(PATHS) - 1)])


# --- one input ---------------------------------------------------------------


def check_nodes(nodes):
    assert type(nodes) is list and nodes, nodes
    for node in nodes:
        assert type(node) is tuple and len(node) == 3, node
        kind, xdata, data = node
        assert type(kind) is int and type(xdata) is int and type(data) is list, node
        assert len(data) == 3 and all(type(word) is int and word in UINT64 for word in data), node
        assert (kind, xdata, tuple(data)) in KNOWN, f"not a cursor of the unit: {node}"


def check_grouping(result, by_line, check_list):
    """{path: [node, ...]}, or {path: {line: [node, ...]}} when `by_line`,
    each list checked by `check_list`."""
    assert type(result) is dict, result
    for path, group in result.items():
        assert type(path) is str, path
        if not by_line:
            check_list(group)
            continue
        assert type(group) is dict and group, group
        for line, nodes in group.items():
            assert type(line) is int and line in LINES, line
            check_list(nodes)


def check_result(function, result):
    check_grouping(result, function is not astsieve.get_path_to_nodes, check_nodes)


def misbehaves(value):
    """Whether a misbehaving sequence is inside `value`: only those may let
    their own exceptions through (a number's are cleared into a refusal)."""
    if isinstance(value, tuple(MISBEHAVING)):
        return True
    items = value.items if isinstance(value, Sequence) else value if isinstance(value, (list, tuple)) else ()
    return any(misbehaves(item) for item in items)


COMPANION = (
    astsieve_cindex.get_path_to_lineno_to_nodes,
    astsieve_cindex.update_path_lineno,
    astsieve_cindex.get_path_to_nodes,
)


def companion_node(fdp):
    """The unit, one of its Cursors, or what the companion must refuse."""
    choice = fdp.ConsumeIntInRange(0, 6)
    if choice == 0:
        return UNIT
    if choice == 1:
        return cindex.Cursor()  # belongs to no unit
    if choice == 2:
        return [HANDLE, cursor_argument(fdp), None, UNIT.cursor.kind][fdp.ConsumeIntInRange(0, 3)]
    kind, xdata, data = CURSORS[fdp.ConsumeIntInRange(0, len(CURSORS) - 1)]
    return astsieve_cindex.cursor_from_tuple((kind, xdata, data), UNIT)


def check_views(views):
    assert type(views) is astsieve_cindex.CursorList and views, views
    cursors = list(views)
    assert views == cursors and len(views) == len(cursors), views
    for cursor in cursors:
        assert type(cursor) is cindex.Cursor and cursor.translation_unit is UNIT, cursor
        node = cursor_tuple(cursor)
        assert (node[0], node[1], tuple(node[2])) in KNOWN, f"not a cursor of the unit: {node}"


def companion_call(fdp):
    choice = fdp.ConsumeIntInRange(0, 2)
    node = companion_node(fdp)
    args = [node, pattern_argument(fdp), None if fdp.ConsumeBool() else main_path_argument(fdp)]
    try:
        result = COMPANION[choice](*args)
    except EXPECTED:
        return
    except FuzzError:
        if misbehaves(node):
            return
        raise
    check_grouping(result, choice != 2, check_views)


def test_one_input(data):
    fdp = atheris.FuzzedDataProvider(data)
    if fdp.ConsumeIntInRange(0, 3) == 0:
        companion_call(fdp)
        return
    choice = fdp.ConsumeIntInRange(0, 2)
    function = (astsieve.get_path_to_lineno_to_nodes, astsieve.update_path_lineno, astsieve.get_path_to_nodes)[choice]
    first = handle_argument(fdp) if choice == 0 else cursor_argument(fdp)
    args = [first, pattern_argument(fdp), main_path_argument(fdp)]
    kwargs = {}
    arity = fdp.ConsumeIntInRange(0, 15)
    if arity == 1:
        args.pop()
    elif arity == 2:
        args.append("")
    elif arity == 3:
        kwargs["arg2"] = args.pop()
    try:
        result = function(*args, **kwargs)
    except EXPECTED:
        return
    except (FuzzError, OverflowError):
        # Raised by a misbehaving object or by Python about its __len__.
        if misbehaves(first):
            return
        raise
    check_result(function, result)


def main():
    atheris.Setup(sys.argv, test_one_input)
    atheris.Fuzz()


if __name__ == "__main__":
    main()
