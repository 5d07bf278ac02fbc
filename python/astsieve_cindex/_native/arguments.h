// The companion's argument checks, in C so that a query on a small subtree
// costs little more than the engine's own work. Every check raises the
// Python error the companion documents and throws PythonError (errors.h).
#pragma once

#include <Python.h>

#include <cstdint>
#include <string>

#include "errors.h"
#include "ref.h"
#include "walk/grouping.h"

namespace astsieve_cindex {

// The cursor a query starts from and the unit it belongs to: a
// TranslationUnit stands for its own cursor; a Cursor must carry its unit.
struct Root {
  Ref cursor;
  Ref unit;
};
Root root_argument(PyObject* node);

// The cursor record of a clang.cindex.Cursor.
astsieve::CursorTuple cursor_tuple_of(PyObject* cursor);

// str (taken as UTF-8) or bytes.
std::string pattern_argument(PyObject* pattern);

// str, bytes or os.PathLike, encoded as os.fsencode does; TypeError names
// it as `what`.
std::string path_argument(PyObject* path, const char* what);

// A path argument; None stands for
// the unit's main file.
std::string main_path_argument(PyObject* main_path, PyObject* unit);

std::uint64_t handle_argument(PyObject* handle);

}  // namespace astsieve_cindex
