"""Conversions between clang.cindex objects and astsieve's raw arguments."""

import ctypes


def handle_of(unit):
    """The CXTranslationUnit pointer value of a clang.cindex TranslationUnit."""
    return ctypes.cast(unit.obj, ctypes.c_void_p).value


def cursor_tuple(cursor):
    """(kind, xdata, [data0, data1, data2]) of a clang.cindex Cursor, data words unsigned."""
    return (cursor._kind_id, cursor.xdata, [word or 0 for word in cursor.data])


def cursor_from_tuple(cindex, value, unit):
    """A clang.cindex Cursor built from a cursor tuple, kept alive by `unit`."""
    kind, xdata, data = value
    cursor = cindex.Cursor()
    cursor._kind_id = kind
    cursor.xdata = xdata
    for index, word in enumerate(data):
        cursor.data[index] = word
    cursor._tu = unit
    return cursor
