// Turns the engine's grouping into Python objects: every cursor of a result
// is copied into one ctypes array of clang.cindex.Cursor, and each list of
// the result becomes a CursorList over its stretch of that array. No Python
// object is made per node.
#pragma once

#include <Python.h>

#include "walk/grouping.h"

namespace astsieve_cindex {

// {path: {line: CursorList}} of Cursors of `unit`, of the bound Cursor
// type; nullptr with a Python error set on failure.
PyObject* pack(const astsieve::PathToLinenoToNodes& result, PyObject* unit);

// {path: CursorList}, the same way.
PyObject* pack(const astsieve::PathToNodes& result, PyObject* unit);

}  // namespace astsieve_cindex
