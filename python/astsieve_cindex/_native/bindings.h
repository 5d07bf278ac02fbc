// What the companion binds the helper to, held in one place for the whole
// process: clang.cindex's types and its libclang check, set by bind(), and
// the records' row types and clang.cindex's kind names, set by
// bind_records().
#pragma once

#include <Python.h>

#include <cstdint>
#include <unordered_map>
#include <vector>

namespace astsieve_cindex {

struct Bindings {
  // bind(Cursor, TranslationUnit, check_libclang): clang.cindex's Cursor and
  // TranslationUnit types, and the function that checks, once per process,
  // that clang.cindex uses the libclang the engine calls.
  PyObject* cursor_type = nullptr;
  PyObject* unit_type = nullptr;
  PyObject* check_libclang = nullptr;
  bool libclang_checked = false;

  // bind_records(kind_names, TableNode, TableDeclaration): table.py's row
  // types, and the bindings' kind names by id, nullptr where they name none.
  PyObject* node_type = nullptr;
  PyObject* declaration_type = nullptr;
  std::vector<PyObject*> kind_names;
  // KIND_<id>, made once for each kind the bindings do not name.
  std::unordered_map<std::int32_t, PyObject*> other_kind_names;
};

Bindings& bindings();

// The module's bind() and bind_records(); nullptr with a Python error set on
// failure.
PyObject* bind(PyObject* module, PyObject* args);
PyObject* bind_records(PyObject* module, PyObject* args);

// Calls the libclang check unless it has succeeded before. Throws
// PythonError.
void check_libclang();

// The name of a kind as clang.cindex spells it (borrowed). Throws
// PythonError.
PyObject* kind_name(std::int32_t kind);

}  // namespace astsieve_cindex
