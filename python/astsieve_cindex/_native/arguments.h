// The companion's argument checks, in C so that a query on a small subtree
// costs little more than the engine's own work. Every check raises the
// Python error the companion documents and throws PythonError.
#pragma once

#include <Python.h>

#include <cstdint>
#include <string>

#include "walk/grouping.h"

namespace astsieve_cindex {

// Raised where a Python error is already set.
struct PythonError {};

// Owns a new reference; releases it unless taken with release().
class Ref {
 public:
  explicit Ref(PyObject* object = nullptr) noexcept : object_(object) {}
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  Ref(Ref&& other) noexcept : object_(other.release()) {}
  Ref& operator=(Ref&& other) noexcept {
    PyObject* old = object_;
    object_ = other.release();
    Py_XDECREF(old);
    return *this;
  }
  ~Ref() { Py_XDECREF(object_); }
  PyObject* get() const noexcept { return object_; }
  PyObject* release() noexcept {
    PyObject* object = object_;
    object_ = nullptr;
    return object;
  }

 private:
  PyObject* object_;
};

// What bind() was given: clang.cindex's Cursor and TranslationUnit types, and
// the function that checks, once per process, that clang.cindex uses the
// libclang the engine calls.
struct Bindings {
  PyObject* cursor_type = nullptr;
  PyObject* unit_type = nullptr;
  PyObject* check_libclang = nullptr;
  bool libclang_checked = false;
};

Bindings& bindings();

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

// Calls the libclang check unless it has succeeded before.
void check_libclang();

}  // namespace astsieve_cindex
