// astsieve_cindex._native: the engine's three queries for the companion
// package, returning CursorList views over one ctypes array of
// clang.cindex.Cursor records per result instead of a tuple per node.
//
// bind(Cursor, TranslationUnit, check_libclang) comes first. Then
// unit_lines(handle, unit, pattern, main_path), subtree_lines(node, pattern,
// main_path) and children_by_path(node, pattern, main_path) take the
// companion's arguments as its public functions do (main_path None: the
// unit's main file). bind_records(...) comes before unit_table(handle, unit,
// pattern, directory), the records of a unit (records.h); included_names(handle,
// unit) lists the files it included (inclusions.h). part_text(declarations,
// nodes, local) is the text of a file part's digest (part_text.h). libclang_file(address)
// names the libclang file in use, with the engine's lookup of the loaded
// libclang. Python's cyclic collector is paused during each call and restored
// on every exit.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <string>
#include <type_traits>

#include "arguments.h"
#include "bindings.h"
#include "cursor_list.h"
#include "inclusions.h"
#include "libclang/lookup.h"
#include "packing.h"
#include "part_text.h"
#include "records.h"
#include "walk/grouping.h"

namespace astsieve_cindex {
namespace {

// Pauses Python's cyclic collector for its lifetime: a result's objects
// cannot form cycles, yet the collector would run over them again and again
// while they are being made.
class CollectorPaused {
 public:
  CollectorPaused() noexcept : was_enabled_(PyGC_Disable() != 0) {}
  ~CollectorPaused() {
    if (was_enabled_) {
      PyGC_Enable();
    }
  }

 private:
  bool was_enabled_;
};

// Checks the arguments with `parse`, which returns the engine's call, runs
// that call with the collector paused and packs its result with the unit's
// Cursors; nothing is returned unless every step succeeds.
template <typename Parse>
PyObject* run(const char* name, PyObject* const* args, Py_ssize_t nargs, Py_ssize_t expected,
              Parse parse) {
  if (nargs != expected) {
    PyErr_Format(PyExc_TypeError, "%s() takes %zd positional arguments (%zd given)", name, expected,
                 nargs);
    return nullptr;
  }
  if (bindings().cursor_type == nullptr) {
    PyErr_SetString(PyExc_RuntimeError, "astsieve_cindex._native.bind() has not been called");
    return nullptr;
  }
  CollectorPaused paused;
  return translating_exceptions([&]() -> PyObject* {
    Ref unit;
    const auto query = parse(args, unit);
    check_libclang();
    auto result = query();
    if constexpr (std::is_same_v<decltype(result), PyObject*>) {
      return result;
    } else {
      return pack(result, unit.get());
    }
  });
}

PyObject* unit_lines(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
  return run("unit_lines", args, nargs, 4, [](PyObject* const* arguments, Ref& unit) {
    const std::uint64_t handle = handle_argument(arguments[0]);
    Py_INCREF(arguments[1]);
    unit = Ref(arguments[1]);
    std::string pattern = pattern_argument(arguments[2]);
    std::string main_path = main_path_argument(arguments[3], unit.get());
    return [handle, pattern = std::move(pattern), main_path = std::move(main_path)] {
      return astsieve::get_path_to_lineno_to_nodes(handle, pattern, main_path);
    };
  });
}

PyObject* unit_table(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
  return run("unit_table", args, nargs, 4, [](PyObject* const* arguments, Ref& unit) {
    const std::uint64_t handle = handle_argument(arguments[0]);
    Py_INCREF(arguments[1]);
    unit = Ref(arguments[1]);
    return [handle, pattern = pattern_argument(arguments[2]),
            directory = path_argument(arguments[3], "the directory")] {
      return astsieve_cindex::unit_table(handle, pattern, directory);
    };
  });
}

PyObject* included_names(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
  return run("included_names", args, nargs, 2, [](PyObject* const* arguments, Ref& unit) {
    const std::uint64_t handle = handle_argument(arguments[0]);
    Py_INCREF(arguments[1]);
    unit = Ref(arguments[1]);
    return [handle] { return astsieve_cindex::included_names(handle); };
  });
}

PyObject* part_text(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
  if (nargs != 3) {
    PyErr_Format(PyExc_TypeError, "part_text() takes 3 positional arguments (%zd given)", nargs);
    return nullptr;
  }
  return translating_exceptions(
      [args] { return astsieve_cindex::part_text(args[0], args[1], args[2]); });
}

// The arguments of the cursor queries: (node, pattern, main_path).
struct CursorCall {
  astsieve::CursorTuple cursor;
  std::string pattern;
  std::string main_path;
};

CursorCall cursor_call(PyObject* const* arguments, Ref& unit) {
  Root root = root_argument(arguments[0]);
  unit = std::move(root.unit);
  const astsieve::CursorTuple cursor = cursor_tuple_of(root.cursor.get());
  std::string pattern = pattern_argument(arguments[1]);
  return CursorCall{cursor, std::move(pattern), main_path_argument(arguments[2], unit.get())};
}

PyObject* subtree_lines(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
  return run("subtree_lines", args, nargs, 3, [](PyObject* const* arguments, Ref& unit) {
    return [call = cursor_call(arguments, unit)] {
      return astsieve::update_path_lineno(call.cursor, call.pattern, call.main_path);
    };
  });
}

PyObject* children_by_path(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
  return run("children_by_path", args, nargs, 3, [](PyObject* const* arguments, Ref& unit) {
    return [call = cursor_call(arguments, unit)] {
      return astsieve::get_path_to_nodes(call.cursor, call.pattern, call.main_path);
    };
  });
}

PyObject* libclang_file(PyObject*, PyObject* address) {
  void* pointer = PyLong_AsVoidPtr(address);
  if (pointer == nullptr && PyErr_Occurred()) {
    return nullptr;
  }
  return translating_exceptions([pointer]() -> PyObject* {
    const std::string file = astsieve::libclang::sole_libclang_file_holding(pointer);
    if (file.empty()) {
      Py_RETURN_NONE;
    }
    return PyUnicode_DecodeFSDefaultAndSize(file.data(), static_cast<Py_ssize_t>(file.size()));
  });
}

template <PyObject* (*function)(PyObject*, PyObject* const*, Py_ssize_t)>
PyCFunction fast() {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

PyMethodDef functions[] = {
    {"bind", bind, METH_VARARGS,
     "bind(Cursor, TranslationUnit, check_libclang): the types of clang.cindex, and the check "
     "made before the first query."},
    {"unit_lines", fast<unit_lines>(), METH_FASTCALL,
     "unit_lines(handle, unit, pattern, main_path): get_path_to_lineno_to_nodes."},
    {"bind_records", bind_records, METH_VARARGS,
     "bind_records(kind_names, TableNode, TableDeclaration): clang.cindex's kind names by id, "
     "and the types of a unit table's rows."},
    {"unit_table", fast<unit_table>(), METH_FASTCALL,
     "unit_table(handle, unit, pattern, directory): (files, declarations, nodes, skipped) of "
     "records.unit_table."},
    {"included_names", fast<included_names>(), METH_FASTCALL,
     "included_names(handle, unit): the name of every file the unit included, in libclang's "
     "order."},
    {"part_text", fast<part_text>(), METH_FASTCALL,
     "part_text(declarations, nodes, local): the text of a file part's digest, as json.dumps "
     "writes it."},
    {"subtree_lines", fast<subtree_lines>(), METH_FASTCALL,
     "subtree_lines(node, pattern, main_path): update_path_lineno."},
    {"children_by_path", fast<children_by_path>(), METH_FASTCALL,
     "children_by_path(node, pattern, main_path): get_path_to_nodes."},
    {"libclang_file", libclang_file, METH_O,
     "libclang_file(address): the real path of the one libclang file loaded, if it holds the "
     "function at address; else None. RuntimeError when two different files are loaded."},
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
