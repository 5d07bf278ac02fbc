// astsieve_cindex._native: the engine's three queries for the companion
// package, returning CursorList views over one ctypes array of
// clang.cindex.Cursor records per result instead of a tuple per node.
//
// Every function takes (target, pattern, main_path, unit, cursor_type):
// target is a translation unit handle (int) or a clang.cindex.Cursor,
// pattern and main_path are str (UTF-8) or bytes, unit is the
// TranslationUnit the result's Cursors belong to and cursor_type is
// clang.cindex.Cursor. Python's cyclic collector is paused during the call
// and restored on every exit.
#define PY_SSIZE_T_CLEAN
#include <Python.h>
#include <clang-c/Index.h>

#include <cstdint>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>

#include "cursor_list.h"
#include "grouping.h"
#include "packing.h"

namespace astsieve_cindex {
namespace {

// Raised where a Python error is already set.
struct PythonError {};

// Translates the exception being handled into a Python error, as the
// astsieve extension's binding does.
void set_python_error() {
  try {
    throw;
  } catch (const PythonError&) {
  } catch (const std::bad_alloc& error) {
    PyErr_SetString(PyExc_MemoryError, error.what());
  } catch (const std::out_of_range& error) {
    PyErr_SetString(PyExc_IndexError, error.what());
  } catch (const std::overflow_error& error) {
    PyErr_SetString(PyExc_OverflowError, error.what());
  } catch (const std::range_error& error) {
    PyErr_SetString(PyExc_ValueError, error.what());
  } catch (const std::logic_error& error) {  // domain, argument and length errors
    PyErr_SetString(PyExc_ValueError, error.what());
  } catch (const std::exception& error) {
    PyErr_SetString(PyExc_RuntimeError, error.what());
  } catch (...) {
    PyErr_SetString(PyExc_RuntimeError, "unknown C++ exception");
  }
}

// Pauses Python's cyclic collector for its lifetime: a result's objects
// cannot form cycles, yet the collector would run over them again and again
// while they are being made.
class CollectorPaused {
 public:
#if PY_VERSION_HEX >= 0x030A0000
  CollectorPaused() noexcept : was_enabled_(PyGC_Disable() != 0) {}
  ~CollectorPaused() {
    if (was_enabled_) {
      PyGC_Enable();
    }
  }
#else
  CollectorPaused() noexcept : was_enabled_(call("isenabled") == Py_True) { call("disable"); }
  ~CollectorPaused() {
    if (was_enabled_) {
      call("enable");
    }
  }

 private:
  // Calls gc.<name>() with any pending error kept aside; the result is
  // borrowed from a long-lived singleton.
  static PyObject* call(const char* name) noexcept {
    PyObject *type, *value, *traceback;
    PyErr_Fetch(&type, &value, &traceback);
    PyObject* gc = PyImport_ImportModule("gc");
    PyObject* result = gc == nullptr ? nullptr : PyObject_CallMethod(gc, name, nullptr);
    Py_XDECREF(gc);
    Py_XDECREF(result);
    PyErr_Clear();
    PyErr_Restore(type, value, traceback);
    return result;
  }
#endif

 private:
  bool was_enabled_;
};

std::string text_argument(PyObject* value, const char* what) {
  if (PyBytes_Check(value)) {
    return std::string(PyBytes_AS_STRING(value), static_cast<std::size_t>(PyBytes_GET_SIZE(value)));
  }
  if (PyUnicode_Check(value)) {
    Py_ssize_t size = 0;
    const char* text = PyUnicode_AsUTF8AndSize(value, &size);
    if (text != nullptr) {
      return std::string(text, static_cast<std::size_t>(size));
    }
    PyErr_Clear();
    PyErr_Format(PyExc_TypeError, "the %s is not encodable as UTF-8", what);
    throw PythonError{};
  }
  PyErr_Format(PyExc_TypeError, "the %s must be str or bytes, got %.200s", what,
               Py_TYPE(value)->tp_name);
  throw PythonError{};
}

astsieve::CursorTuple cursor_argument(PyObject* cursor, PyObject* cursor_type) {
  const int is_cursor = PyObject_IsInstance(cursor, cursor_type);
  if (is_cursor != 1) {
    if (is_cursor == 0) {
      PyErr_Format(PyExc_TypeError, "expected a clang.cindex.Cursor, got %.200s",
                   Py_TYPE(cursor)->tp_name);
    }
    throw PythonError{};
  }
  Py_buffer buffer;
  if (PyObject_GetBuffer(cursor, &buffer, PyBUF_SIMPLE) < 0) {
    throw PythonError{};
  }
  CXCursor record{};
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

std::uint64_t handle_argument(PyObject* handle) {
  const unsigned long long value = PyLong_AsUnsignedLongLong(handle);
  if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
    throw PythonError{};
  }
  return value;
}

constexpr Py_ssize_t kArguments = 5;

// Checks the arguments, runs `query` with the collector paused and packs its
// result; nothing is returned unless every step succeeds.
template <typename Query>
PyObject* run(const char* name, PyObject* const* args, Py_ssize_t nargs, Query query) {
  if (nargs != kArguments) {
    PyErr_Format(PyExc_TypeError, "%s() takes %zd positional arguments (%zd given)", name,
                 kArguments, nargs);
    return nullptr;
  }
  const CursorOrigin origin{args[3], args[4]};
  CollectorPaused paused;
  try {
    const std::string pattern = text_argument(args[1], "path pattern");
    const std::string main_path = text_argument(args[2], "main path");
    return pack(query(args[0], origin, pattern, main_path), origin);
  } catch (...) {
    set_python_error();
    return nullptr;
  }
}

PyObject* unit_lines(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
  return run("unit_lines", args, nargs,
             [](PyObject* target, const CursorOrigin&, const std::string& pattern,
                const std::string& main_path) {
               return astsieve::get_path_to_lineno_to_nodes(handle_argument(target), pattern,
                                                            main_path);
             });
}

PyObject* subtree_lines(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
  return run("subtree_lines", args, nargs,
             [](PyObject* target, const CursorOrigin& origin, const std::string& pattern,
                const std::string& main_path) {
               return astsieve::update_path_lineno(cursor_argument(target, origin.cursor_type),
                                                   pattern, main_path);
             });
}

PyObject* children_by_path(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
  return run("children_by_path", args, nargs,
             [](PyObject* target, const CursorOrigin& origin, const std::string& pattern,
                const std::string& main_path) {
               return astsieve::get_path_to_nodes(cursor_argument(target, origin.cursor_type),
                                                  pattern, main_path);
             });
}

PyMethodDef functions[] = {
    {"unit_lines", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(unit_lines)),
     METH_FASTCALL, "astsieve.get_path_to_lineno_to_nodes with CursorList results."},
    {"subtree_lines", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(subtree_lines)),
     METH_FASTCALL, "astsieve.update_path_lineno with CursorList results."},
    {"children_by_path",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(children_by_path)), METH_FASTCALL,
     "astsieve.get_path_to_nodes with CursorList results."},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT,
    "astsieve_cindex._native",
    "The engine's queries returning CursorList views.",
    -1,
    functions,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace
}  // namespace astsieve_cindex

PyMODINIT_FUNC PyInit__native() {
  using namespace astsieve_cindex;
  if (!ready_cursor_list_type()) {
    return nullptr;
  }
  PyObject* module = PyModule_Create(&module_definition);
  if (module == nullptr) {
    return nullptr;
  }
  PyTypeObject* type = cursor_list_type();
  Py_INCREF(type);
  if (PyModule_AddObject(module, "CursorList", reinterpret_cast<PyObject*>(type)) < 0) {
    Py_DECREF(type);
    Py_DECREF(module);
    return nullptr;
  }
  return module;
}
