#include "cursor_list.h"

namespace astsieve_cindex {
namespace {

struct CursorList {
  PyObject_HEAD
  // A ctypes array of clang.cindex.Cursor holding every record of one query
  // result; a Cursor made from it refers to it, so it lives as long as they
  // do.
  PyObject* cursors;
  // The TranslationUnit, set as `_tu` on every Cursor made, which keeps the
  // unit alive while any of them lives.
  PyObject* unit;
  Py_ssize_t start;
  Py_ssize_t count;
};

PyObject* tu_name = nullptr;

CursorList* as_list(PyObject* self) { return reinterpret_cast<CursorList*>(self); }

// A new Cursor object for the record at `index` (0 <= index < count).
PyObject* make_cursor(CursorList* list, Py_ssize_t index) {
  PyObject* cursor = PySequence_GetItem(list->cursors, list->start + index);
  if (cursor != nullptr && PyObject_SetAttr(cursor, tu_name, list->unit) < 0) {
    Py_CLEAR(cursor);
  }
  return cursor;
}

Py_ssize_t length(PyObject* self) { return as_list(self)->count; }

PyObject* item(PyObject* self, Py_ssize_t index) {
  CursorList* list = as_list(self);
  if (index < 0 || index >= list->count) {
    PyErr_SetString(PyExc_IndexError, "CursorList index out of range");
    return nullptr;
  }
  return make_cursor(list, index);
}

PyObject* subscript(PyObject* self, PyObject* key) {
  CursorList* list = as_list(self);
  if (PyIndex_Check(key)) {
    Py_ssize_t index = PyNumber_AsSsize_t(key, PyExc_IndexError);
    if (index == -1 && PyErr_Occurred()) {
      return nullptr;
    }
    return item(self, index < 0 ? index + list->count : index);
  }
  if (!PySlice_Check(key)) {
    PyErr_Format(PyExc_TypeError, "CursorList indices must be integers or slices, not %.200s",
                 Py_TYPE(key)->tp_name);
    return nullptr;
  }
  Py_ssize_t start = 0;
  Py_ssize_t stop = 0;
  Py_ssize_t step = 0;
  if (PySlice_Unpack(key, &start, &stop, &step) < 0) {
    return nullptr;
  }
  const Py_ssize_t taken = PySlice_AdjustIndices(list->count, &start, &stop, step);
  PyObject* result = PyList_New(taken);
  for (Py_ssize_t i = 0; result != nullptr && i < taken; ++i) {
    PyObject* cursor = make_cursor(list, start + i * step);
    if (cursor == nullptr) {
      Py_CLEAR(result);
    } else {
      PyList_SET_ITEM(result, i, cursor);
    }
  }
  return result;
}

// Equal to another CursorList or a list when both hold equal Cursors in the
// same order, as list equality has it.
PyObject* richcompare(PyObject* self, PyObject* other, int op) {
  const bool sequence = PyList_Check(other) || Py_TYPE(other) == cursor_list_type();
  if ((op != Py_EQ && op != Py_NE) || !sequence) {
    Py_RETURN_NOTIMPLEMENTED;
  }
  const Py_ssize_t count = as_list(self)->count;
  int equal = PySequence_Size(other) == count;
  for (Py_ssize_t i = 0; equal == 1 && i < count; ++i) {
    PyObject* mine = item(self, i);
    PyObject* theirs = mine == nullptr ? nullptr : PySequence_GetItem(other, i);
    equal = theirs == nullptr ? -1 : PyObject_RichCompareBool(mine, theirs, Py_EQ);
    Py_XDECREF(mine);
    Py_XDECREF(theirs);
  }
  if (equal < 0) {
    return nullptr;
  }
  return PyBool_FromLong((equal == 1) == (op == Py_EQ));
}

// The first index in [start, stop) whose Cursor equals `value`, -1 if none;
// with every = true the number of such indexes instead. -2 with a Python
// error set on failure.
Py_ssize_t search(PyObject* self, PyObject* value, Py_ssize_t start, Py_ssize_t stop, bool every) {
  Py_ssize_t found = every ? 0 : -1;
  for (Py_ssize_t i = start; i < stop; ++i) {
    PyObject* cursor = item(self, i);
    const int equal = cursor == nullptr ? -1 : PyObject_RichCompareBool(cursor, value, Py_EQ);
    Py_XDECREF(cursor);
    if (equal < 0) {
      return -2;
    }
    if (equal == 1) {
      if (!every) {
        return i;
      }
      ++found;
    }
  }
  return found;
}

PyObject* count_method(PyObject* self, PyObject* value) {
  const Py_ssize_t found = search(self, value, 0, as_list(self)->count, true);
  return found < 0 ? nullptr : PyLong_FromSsize_t(found);
}

// Bounds as list.index takes them: negative ones count from the end.
Py_ssize_t bound(Py_ssize_t value, Py_ssize_t count) {
  if (value < 0) {
    value += count;
  }
  return value < 0 ? 0 : (value > count ? count : value);
}

PyObject* index_method(PyObject* self, PyObject* args) {
  const Py_ssize_t count = as_list(self)->count;
  PyObject* value = nullptr;
  Py_ssize_t start = 0;
  Py_ssize_t stop = PY_SSIZE_T_MAX;
  if (!PyArg_ParseTuple(args, "O|nn:index", &value, &start, &stop)) {
    return nullptr;
  }
  const Py_ssize_t found = search(self, value, bound(start, count), bound(stop, count), false);
  if (found == -1) {
    PyErr_SetString(PyExc_ValueError, "CursorList.index(x): x not in list");
  }
  return found < 0 ? nullptr : PyLong_FromSsize_t(found);
}

PyObject* repr(PyObject* self) {
  PyObject* items = PySequence_List(self);
  if (items == nullptr) {
    return nullptr;
  }
  PyObject* text = PyUnicode_FromFormat("CursorList(%R)", items);
  Py_DECREF(items);
  return text;
}

int traverse(PyObject* self, visitproc visit, void* arg) {
  Py_VISIT(as_list(self)->cursors);
  Py_VISIT(as_list(self)->unit);
  return 0;
}

int clear(PyObject* self) {
  Py_CLEAR(as_list(self)->cursors);
  Py_CLEAR(as_list(self)->unit);
  return 0;
}

void dealloc(PyObject* self) {
  PyObject_GC_UnTrack(self);
  clear(self);
  Py_TYPE(self)->tp_free(self);
}

PyMethodDef methods[] = {
    {"count", count_method, METH_O, "The number of Cursors equal to the value."},
    {"index", index_method, METH_VARARGS,
     "The position of the first Cursor equal to the value; ValueError if there is none."},
    {nullptr, nullptr, 0, nullptr},
};

PySequenceMethods sequence_methods = {
    length,   // sq_length
    nullptr,  // sq_concat
    nullptr,  // sq_repeat
    item,     // sq_item
    nullptr,  // was_sq_slice
    nullptr,  // sq_ass_item
    nullptr,  // was_sq_ass_slice
    nullptr,  // sq_contains: the default compares with each item in turn
    nullptr,  // sq_inplace_concat
    nullptr,  // sq_inplace_repeat
};

PyMappingMethods mapping_methods = {length, subscript, nullptr};

// The slots are filled in by ready_cursor_list_type(); only the header is
// spelled out here, the rest starts zeroed.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
PyTypeObject type_object = {PyVarObject_HEAD_INIT(nullptr, 0)};
#pragma GCC diagnostic pop

}  // namespace

bool ready_cursor_list_type() {
  tu_name = PyUnicode_InternFromString("_tu");
  if (tu_name == nullptr) {
    return false;
  }
  type_object.tp_name = "astsieve_cindex.CursorList";
  type_object.tp_doc =
      "A read-only list of clang.cindex.Cursor objects in a query result.\n\n"
      "Indexing and iteration make a new Cursor each time, equal to (==) and\n"
      "hashing like the one before; list(view) keeps them. A CursorList\n"
      "equals a list or CursorList of equal Cursors in the same order.";
  type_object.tp_basicsize = sizeof(CursorList);
  type_object.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC
#ifdef Py_TPFLAGS_SEQUENCE
                         | Py_TPFLAGS_SEQUENCE
#endif
      ;
  type_object.tp_dealloc = dealloc;
  type_object.tp_repr = repr;
  type_object.tp_as_sequence = &sequence_methods;
  type_object.tp_as_mapping = &mapping_methods;
  type_object.tp_hash = PyObject_HashNotImplemented;
  type_object.tp_traverse = traverse;
  type_object.tp_clear = clear;
  type_object.tp_richcompare = richcompare;
  type_object.tp_iter = PySeqIter_New;
  type_object.tp_methods = methods;
  return PyType_Ready(&type_object) == 0;
}

PyTypeObject* cursor_list_type() { return &type_object; }

PyObject* new_cursor_list(PyObject* cursors, PyObject* unit, Py_ssize_t start, Py_ssize_t count) {
  CursorList* list = PyObject_GC_New(CursorList, &type_object);
  if (list == nullptr) {
    return nullptr;
  }
  Py_INCREF(cursors);
  list->cursors = cursors;
  Py_INCREF(unit);
  list->unit = unit;
  list->start = start;
  list->count = count;
  PyObject_GC_Track(list);
  return reinterpret_cast<PyObject*>(list);
}

}  // namespace astsieve_cindex
