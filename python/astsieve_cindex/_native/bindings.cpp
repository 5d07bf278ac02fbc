#include "bindings.h"

#include <cstddef>
#include <utility>

#include "errors.h"
#include "ref.h"

namespace astsieve_cindex {
namespace {

// Kind ids are small (below 1000 in every libclang); a larger one in the
// names is refused rather than sized for.
constexpr long kMaxKindId = 1 << 16;

// The kind names of a bind_records() call as the registry holds them, the
// names borrowed.
std::vector<PyObject*> kind_names_by_id(PyObject* names) {
  std::vector<PyObject*> by_id;
  PyObject* key = nullptr;
  PyObject* value = nullptr;
  Py_ssize_t at = 0;
  while (PyDict_Next(names, &at, &key, &value)) {
    const long id = PyLong_Check(key) ? PyLong_AsLong(key) : -1;
    if (id < 0 || id >= kMaxKindId || !PyUnicode_Check(value)) {
      PyErr_Clear();
      PyErr_SetString(PyExc_ValueError,
                      "bind_records() takes kind names as {id: str} with small ids");
      throw PythonError{};
    }
    if (by_id.size() <= static_cast<std::size_t>(id)) {
      by_id.resize(static_cast<std::size_t>(id) + 1, nullptr);
    }
    by_id[static_cast<std::size_t>(id)] = value;
  }
  return by_id;
}

}  // namespace

Bindings& bindings() {
  static Bindings bound;
  return bound;
}

PyObject* bind(PyObject*, PyObject* args) {
  PyObject* cursor_type = nullptr;
  PyObject* unit_type = nullptr;
  PyObject* check = nullptr;
  if (!PyArg_ParseTuple(args, "O!O!O:bind", &PyType_Type, &cursor_type, &PyType_Type, &unit_type,
                        &check)) {
    return nullptr;
  }
  Bindings& bound = bindings();
  for (PyObject** slot : {&bound.cursor_type, &bound.unit_type, &bound.check_libclang}) {
    Py_XDECREF(*slot);
  }
  Py_INCREF(cursor_type);
  Py_INCREF(unit_type);
  Py_INCREF(check);
  bound.cursor_type = cursor_type;
  bound.unit_type = unit_type;
  bound.check_libclang = check;
  bound.libclang_checked = false;
  Py_RETURN_NONE;
}

PyObject* bind_records(PyObject*, PyObject* args) {
  PyObject* names = nullptr;
  PyObject* node_type = nullptr;
  PyObject* declaration_type = nullptr;
  if (!PyArg_ParseTuple(args, "O!O!O!:bind_records", &PyDict_Type, &names, &PyType_Type, &node_type,
                        &PyType_Type, &declaration_type)) {
    return nullptr;
  }
  for (PyObject* type : {node_type, declaration_type}) {
    if (!PyType_IsSubtype(reinterpret_cast<PyTypeObject*>(type), &PyTuple_Type)) {
      PyErr_Format(PyExc_TypeError, "bind_records() takes tuple types, got %.200s",
                   reinterpret_cast<PyTypeObject*>(type)->tp_name);
      return nullptr;
    }
  }
  return translating_exceptions([&] {
    std::vector<PyObject*> kind_names = kind_names_by_id(names);
    for (PyObject* name : kind_names) {
      Py_XINCREF(name);
    }
    Py_INCREF(node_type);
    Py_INCREF(declaration_type);
    Bindings& bound = bindings();
    PyObject* old_node_type = bound.node_type;
    PyObject* old_declaration_type = bound.declaration_type;
    bound.node_type = node_type;
    bound.declaration_type = declaration_type;
    std::swap(bound.kind_names, kind_names);
    std::unordered_map<std::int32_t, PyObject*> other_kind_names;
    std::swap(bound.other_kind_names, other_kind_names);
    Py_XDECREF(old_node_type);
    Py_XDECREF(old_declaration_type);
    for (PyObject* name : kind_names) {
      Py_XDECREF(name);
    }
    for (auto& entry : other_kind_names) {
      Py_DECREF(entry.second);
    }
    Py_RETURN_NONE;
  });
}

void check_libclang() {
  Bindings& bound = bindings();
  if (!bound.libclang_checked) {
    Ref done(checked(PyObject_CallObject(bound.check_libclang, nullptr)));
    bound.libclang_checked = true;
  }
}

PyObject* kind_name(std::int32_t kind) {
  Bindings& bound = bindings();
  if (kind >= 0 && static_cast<std::size_t>(kind) < bound.kind_names.size() &&
      bound.kind_names[static_cast<std::size_t>(kind)] != nullptr) {
    return bound.kind_names[static_cast<std::size_t>(kind)];
  }
  const auto found = bound.other_kind_names.find(kind);
  if (found != bound.other_kind_names.end()) {
    return found->second;
  }
  Ref name(checked(PyUnicode_FromFormat("KIND_%d", static_cast<int>(kind))));
  bound.other_kind_names.emplace(kind, name.get());
  return name.release();
}

}  // namespace astsieve_cindex
