// CursorList: a read-only sequence of clang.cindex.Cursor objects over a
// stretch of one ctypes array of CXCursor records.
#pragma once

#include <Python.h>

namespace astsieve_cindex {

// Readies the type; false with a Python error set on failure.
bool ready_cursor_list_type();

PyTypeObject* cursor_list_type();

// A new CursorList over `count` records of `cursors` (a ctypes array of
// Cursor) from `start` on, whose Cursors belong to `unit`; nullptr with a
// Python error set on failure.
PyObject* new_cursor_list(PyObject* cursors, PyObject* unit, Py_ssize_t start, Py_ssize_t count);

}  // namespace astsieve_cindex
