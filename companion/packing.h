// Turns the engine's grouping into Python objects: every cursor of a result
// is copied into one ctypes array of clang.cindex.Cursor, and each list of
// the result becomes a CursorList over its stretch of that array. No Python
// object is made per node.
#pragma once

#include <Python.h>

#include "grouping.h"

namespace astsieve_cindex {

// What the Cursors of a result need: their TranslationUnit and the
// clang.cindex.Cursor type.
struct CursorOrigin {
  PyObject* unit;
  PyObject* cursor_type;
};

// {path: {line: CursorList}}; nullptr with a Python error set on failure.
PyObject* pack(const astsieve::PathToLinenoToNodes& result, const CursorOrigin& origin);

// {path: CursorList}; nullptr with a Python error set on failure.
PyObject* pack(const astsieve::PathToNodes& result, const CursorOrigin& origin);

}  // namespace astsieve_cindex
