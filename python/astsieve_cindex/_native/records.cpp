// The assembly of a unit's records: one walk makes a row per node, the
// declarations' extents are collected, and both are put in record order as
// table.py's rows.
#include "records.h"

#include <algorithm>
#include <initializer_list>
#include <tuple>
#include <utility>
#include <vector>

#include "bindings.h"
#include "errors.h"
#include "extents.h"
#include "file_order.h"
#include "names.h"
#include "record_api.h"
#include "ref.h"
#include "skipped_ranges.h"
#include "spellings.h"
#include "walk/file_filter.h"
#include "walk/unit_walk.h"

namespace astsieve_cindex {
namespace {

namespace lc = astsieve::libclang;

struct Row {
  std::uint32_t file;
  std::int64_t line;
  std::int64_t column;
  std::int32_t kind;
  PyObject* spelling;  // owned by Rows
};

struct Rows {
  std::vector<Row> list;
  Rows() = default;
  Rows(const Rows&) = delete;
  Rows& operator=(const Rows&) = delete;
  ~Rows() {
    for (Row& row : list) {
      Py_XDECREF(row.spelling);
    }
  }
};

// One row per node of the walk, in walking order.
class RowSink final : public astsieve::NodeSink {
 public:
  RowSink(Files& files, Rows& rows) : files_(files), rows_(rows) {}

  void take(const lc::Cursor& node, const astsieve::FileVerdict& verdict) override {
    rows_.list.push_back(
        Row{files_.index_of(verdict.path), verdict.line, verdict.column, node.kind, nullptr});
    rows_.list.back().spelling = spellings_.of(node);
  }

 private:
  Files& files_;
  Rows& rows_;
  Spellings spellings_;
};

// An int made once for a run of equal values, as consecutive nodes mostly
// share a line and a declaration.
class LastInt {
 public:
  LastInt() = default;
  LastInt(const LastInt&) = delete;
  LastInt& operator=(const LastInt&) = delete;
  ~LastInt() { Py_XDECREF(object_); }

  PyObject* of(std::int64_t value) {  // borrowed
    if (object_ == nullptr || value != value_) {
      PyObject* made = checked(PyLong_FromLongLong(value));
      Py_XDECREF(object_);
      object_ = made;
      value_ = value;
    }
    return object_;
  }

 private:
  PyObject* object_ = nullptr;
  std::int64_t value_ = 0;
};

// An instance of the NamedTuple `type` holding `items` (borrowed), made as
// tuple.__new__(type, items) makes it: a NamedTuple's own __new__ runs
// Python code for each one.
PyObject* named_tuple(PyObject* type, std::initializer_list<PyObject*> items) {
  Ref values(checked(PyTuple_New(static_cast<Py_ssize_t>(items.size()))));
  Py_ssize_t i = 0;
  for (PyObject* item : items) {
    Py_INCREF(item);
    PyTuple_SET_ITEM(values.get(), i++, item);
  }
  const Ref arguments(checked(PyTuple_Pack(1, values.get())));
  return checked(
      PyTuple_Type.tp_new(reinterpret_cast<PyTypeObject*>(type), arguments.get(), nullptr));
}

// The declarations, those that nodes lie in first, in order of first use;
// equal ones (`void f(int); void f(char);` on one line) once, as table_of
// has them.
class Declarations {
 public:
  Declarations() : list_(checked(PyList_New(0))), seen_(checked(PyDict_New())) {}

  Py_ssize_t index_of(Extent& extent, std::uint32_t file) {
    if (extent.index < 0) {
      const Ref place(checked(PyLong_FromUnsignedLong(file)));
      const Ref first_line(checked(PyLong_FromLongLong(extent.start.first)));
      const Ref last_line(checked(PyLong_FromLongLong(extent.end.first)));
      const Ref declaration(
          named_tuple(bindings().declaration_type,
                      {extent.kind, extent.name, place.get(), first_line.get(), last_line.get()}));
      PyObject* known = PyDict_GetItemWithError(seen_.get(), declaration.get());
      if (known != nullptr) {
        extent.index = PyLong_AsSsize_t(known);
      } else if (PyErr_Occurred()) {
        throw PythonError{};
      } else {
        const Py_ssize_t index = PyList_GET_SIZE(list_.get());
        const Ref number(checked(PyLong_FromSsize_t(index)));
        if (PyList_Append(list_.get(), declaration.get()) < 0 ||
            PyDict_SetItem(seen_.get(), declaration.get(), number.get()) < 0) {
          throw PythonError{};
        }
        extent.index = index;
      }
    }
    return extent.index;
  }

  PyObject* list() { return list_.release(); }

 private:
  Ref list_;
  Ref seen_;
};

}  // namespace

PyObject* unit_table(std::uint64_t handle, const std::string& pattern,
                     const std::string& directory) {
  if (bindings().node_type == nullptr) {
    PyErr_SetString(PyExc_RuntimeError,
                    "astsieve_cindex._native.bind_records() has not been called");
    throw PythonError{};
  }
  // The main file's name as libclang spells it, bytes and all: clang.cindex
  // would decode it strictly, and a unit whose own name is not UTF-8 is
  // still a unit.
  const lc::Cursor unit_cursor = lc::functions().getTranslationUnitCursor(
      reinterpret_cast<lc::TranslationUnit>(static_cast<std::uintptr_t>(handle)));
  const std::string main_path = text_of(record_api::functions().getCursorSpelling(unit_cursor));
  astsieve::FileFilter filter(pattern, main_path);
  Files files;
  Rows rows;
  RowSink sink(files, rows);
  astsieve::walk_unit(handle, filter, sink);

  const auto translation_unit =
      reinterpret_cast<lc::TranslationUnit>(static_cast<std::uintptr_t>(handle));
  std::vector<Skipped> skipped;
  if (handle != 0) {
    skipped = skipped_ranges(translation_unit, filter, files);
  }
  Extents extents(files.paths().size());
  if (handle != 0) {
    const Names names(directory);
    collect_declarations(lc::functions().getTranslationUnitCursor(translation_unit), filter, files,
                         names, extents);
  }
  extents.sort();

  FileOrder order(files.paths(), main_path);
  std::stable_sort(rows.list.begin(), rows.list.end(), [&order](const Row& a, const Row& b) {
    return std::make_tuple(order.rank(a.file), a.line, a.column) <
           std::make_tuple(order.rank(b.file), b.line, b.column);
  });

  Declarations declarations;
  Ref nodes(checked(PyList_New(static_cast<Py_ssize_t>(rows.list.size()))));
  LastInt file_number;
  LastInt line_number;
  LastInt declaration_number;
  Ref column(nullptr);
  for (std::size_t i = 0; i < rows.list.size(); ++i) {
    const Row& row = rows.list[i];
    const std::uint32_t file = order.rank(row.file);
    Extent* owner = extents.at(row.file, {row.line, row.column});
    const Py_ssize_t declaration = owner != nullptr ? declarations.index_of(*owner, file) : -1;
    column = Ref(checked(PyLong_FromLongLong(row.column)));
    PyList_SET_ITEM(
        nodes.get(), static_cast<Py_ssize_t>(i),
        named_tuple(bindings().node_type,
                    {file_number.of(file), line_number.of(row.line), column.get(),
                     kind_name(row.kind), row.spelling, declaration_number.of(declaration)}));
  }
  // Then those no node lies in, in record order.
  for (std::size_t place = 0; place < files.paths().size(); ++place) {
    for (Extent& extent : extents.in_file(order.at(place))) {
      declarations.index_of(extent, static_cast<std::uint32_t>(place));
    }
  }
  const Ref skipped_ranges(skipped_list(skipped, order));
  const Ref file_names(order.files());
  const Ref declaration_list(declarations.list());
  return checked(
      PyTuple_Pack(4, file_names.get(), declaration_list.get(), nodes.get(), skipped_ranges.get()));
}

}  // namespace astsieve_cindex
