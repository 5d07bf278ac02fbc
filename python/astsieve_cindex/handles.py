"""Conversions between clang.cindex objects and astsieve's raw values."""

from __future__ import annotations

import ctypes
from typing import List, Sequence, Tuple

from clang.cindex import Cursor, TranslationUnit

__all__ = ["CursorTuple", "cursor_from_tuple", "cursor_tuple", "translation_unit_handle"]

# (kind, xdata, [data0, data1, data2]): a libclang cursor as astsieve takes
# and returns it.
CursorTuple = Tuple[int, int, List[int]]


def translation_unit_handle(unit: TranslationUnit) -> int:
    """The CXTranslationUnit pointer value of `unit`."""
    if not isinstance(unit, TranslationUnit):
        raise TypeError(f"expected a clang.cindex.TranslationUnit, got {type(unit).__name__}")
    return ctypes.cast(unit.obj, ctypes.c_void_p).value or 0


def cursor_tuple(cursor: Cursor) -> CursorTuple:
    """The cursor tuple of `cursor`: its kind, xdata and three data words."""
    if not isinstance(cursor, Cursor):
        raise TypeError(f"expected a clang.cindex.Cursor, got {type(cursor).__name__}")
    return (cursor._kind_id, cursor.xdata, [word or 0 for word in cursor.data])


def cursor_from_tuple(node: Tuple[int, int, Sequence[int]], unit: TranslationUnit) -> Cursor:
    """The Cursor that `node` describes, a cursor of `unit`.

    The Cursor holds a reference to `unit`, so the translation unit stays
    alive for as long as the Cursor does.
    """
    if not isinstance(unit, TranslationUnit):
        raise TypeError(f"expected a clang.cindex.TranslationUnit, got {type(unit).__name__}")
    kind, xdata, data = node
    words = list(data)
    if len(words) != 3:
        raise ValueError(f"a cursor tuple holds three data words, got {len(words)}")
    cursor = Cursor()
    cursor._kind_id = kind
    cursor.xdata = xdata
    cursor.data[:] = words
    cursor._tu = unit
    return cursor
