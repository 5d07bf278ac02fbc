// Where the helper's C++ meets Python's errors: C API failures become
// PythonError, and every exception that reaches a function of the module
// becomes a Python exception in one place.
#pragma once

#include <Python.h>

namespace astsieve_cindex {

// Raised where a Python error is already set.
struct PythonError {};

// `object`, a result of the C API; throws PythonError when it is nullptr.
inline PyObject* checked(PyObject* object) {
  if (object == nullptr) {
    throw PythonError{};
  }
  return object;
}

// Translates the exception being handled into a Python error, as the
// astsieve extension's binding does: a PythonError keeps the error already
// set, std::bad_alloc becomes MemoryError, std::runtime_error RuntimeError
// with the same text, and so on.
void set_python_error() noexcept;

// What `body` returns, or nullptr with a Python error set when it throws:
// the frame of each function of the module through which C++ is called.
template <typename Body>
PyObject* translating_exceptions(Body&& body) noexcept {
  try {
    return body();
  } catch (...) {
    set_python_error();
    return nullptr;
  }
}

}  // namespace astsieve_cindex
