#include "arguments.h"

#include <cstring>

#include "bindings.h"
#include "libclang/api.h"

namespace astsieve_cindex {
namespace {

[[noreturn]] void raise_type_error(const char* format, PyObject* value) {
  PyErr_Format(PyExc_TypeError, format, Py_TYPE(value)->tp_name);
  throw PythonError{};
}

std::string bytes_text(PyObject* bytes) {
  return std::string(PyBytes_AS_STRING(bytes), static_cast<std::size_t>(PyBytes_GET_SIZE(bytes)));
}

}  // namespace

Root root_argument(PyObject* node) {
  const Bindings& bound = bindings();
  if (PyObject_TypeCheck(node, reinterpret_cast<PyTypeObject*>(bound.unit_type))) {
    Py_INCREF(node);
    Root root{Ref(), Ref(node)};
    root.cursor = Ref(checked(PyObject_GetAttrString(node, "cursor")));
    return root;
  }
  if (!PyObject_TypeCheck(node, reinterpret_cast<PyTypeObject*>(bound.cursor_type))) {
    raise_type_error("expected a clang.cindex.Cursor or TranslationUnit, got %.200s", node);
  }
  PyObject* unit = PyObject_GetAttrString(node, "_tu");
  if (unit == nullptr ||
      !PyObject_TypeCheck(unit, reinterpret_cast<PyTypeObject*>(bound.unit_type))) {
    Py_XDECREF(unit);
    if (unit == nullptr && !PyErr_ExceptionMatches(PyExc_AttributeError)) {
      throw PythonError{};
    }
    PyErr_SetString(PyExc_ValueError, "the cursor belongs to no translation unit");
    throw PythonError{};
  }
  Py_INCREF(node);
  return Root{Ref(node), Ref(unit)};
}

astsieve::CursorTuple cursor_tuple_of(PyObject* cursor) {
  Py_buffer buffer;
  if (PyObject_GetBuffer(cursor, &buffer, PyBUF_SIMPLE) < 0) {
    throw PythonError{};
  }
  astsieve::libclang::Cursor record{};
  const bool fits = buffer.len == static_cast<Py_ssize_t>(sizeof record);
  if (fits) {
    std::memcpy(&record, buffer.buf, sizeof record);
  }
  PyBuffer_Release(&buffer);
  if (!fits) {
    PyErr_SetString(PyExc_TypeError, "clang.cindex.Cursor is not a CXCursor record");
    throw PythonError{};
  }
  return astsieve::to_cursor_tuple(record);
}

std::string pattern_argument(PyObject* pattern) {
  if (PyBytes_Check(pattern)) {
    return bytes_text(pattern);
  }
  if (!PyUnicode_Check(pattern)) {
    raise_type_error("the path pattern must be str or bytes, got %.200s", pattern);
  }
  Py_ssize_t size = 0;
  const char* text = PyUnicode_AsUTF8AndSize(pattern, &size);
  if (text == nullptr) {
    PyErr_Clear();
    PyErr_SetString(PyExc_TypeError, "the path pattern is not encodable as UTF-8");
    throw PythonError{};
  }
  return std::string(text, static_cast<std::size_t>(size));
}

std::string path_argument(PyObject* path, const char* what) {
  if (!PyUnicode_Check(path) && !PyBytes_Check(path) &&
      !PyObject_HasAttrString(reinterpret_cast<PyObject*>(Py_TYPE(path)), "__fspath__")) {
    PyErr_Format(PyExc_TypeError, "%s must be str, bytes or os.PathLike, got %.200s", what,
                 Py_TYPE(path)->tp_name);
    throw PythonError{};
  }
  const Ref text(checked(PyOS_FSPath(path)));
  if (PyBytes_Check(text.get())) {
    return bytes_text(text.get());
  }
  const Ref encoded(checked(PyUnicode_EncodeFSDefault(text.get())));
  return bytes_text(encoded.get());
}

std::string main_path_argument(PyObject* main_path, PyObject* unit) {
  if (main_path == Py_None) {
    const Ref spelling(checked(PyObject_GetAttrString(unit, "spelling")));
    return path_argument(spelling.get(), "the main path");
  }
  return path_argument(main_path, "the main path");
}

std::uint64_t handle_argument(PyObject* handle) {
  const unsigned long long value = PyLong_AsUnsignedLongLong(handle);
  if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
    throw PythonError{};
  }
  return value;
}

}  // namespace astsieve_cindex
