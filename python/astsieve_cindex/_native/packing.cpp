#include "packing.h"

#include <cstring>
#include <string>

#include "bindings.h"
#include "cursor_list.h"
#include "libclang/api.h"
#include "ref.h"

namespace astsieve_cindex {
namespace {

// `Cursor * count`: ctypes keeps every array type it made in a dict; the
// small ones, which queries on small subtrees ask for again and again, are
// also remembered here.
PyObject* array_type(Py_ssize_t count) {
  constexpr Py_ssize_t kRemembered = 64;
  static PyObject* remembered[kRemembered] = {};
  if (count < kRemembered && remembered[count] != nullptr) {
    Py_INCREF(remembered[count]);
    return remembered[count];
  }
  Ref size(PyLong_FromSsize_t(count));
  PyObject* type =
      size.get() == nullptr ? nullptr : PyNumber_Multiply(bindings().cursor_type, size.get());
  if (type != nullptr && count < kRemembered) {
    Py_INCREF(type);
    remembered[count] = type;
  }
  return type;
}

// The ctypes array that receives a result's records, filled list by list.
class Records {
 public:
  Records(PyObject* unit, Py_ssize_t count) : unit_(unit) {
    Ref type(array_type(count));
    if (type.get() == nullptr) {
      return;
    }
    array_ = PyObject_CallObject(type.get(), nullptr);
    if (array_ == nullptr || PyObject_GetBuffer(array_, &buffer_, PyBUF_WRITABLE) < 0) {
      return;
    }
    buffered_ = true;
    if (buffer_.len != count * static_cast<Py_ssize_t>(sizeof(astsieve::libclang::Cursor))) {
      PyErr_SetString(PyExc_TypeError, "clang.cindex.Cursor is not a CXCursor record");
      return;
    }
    ready_ = true;
  }
  Records(const Records&) = delete;
  Records& operator=(const Records&) = delete;
  ~Records() {
    if (buffered_) {
      PyBuffer_Release(&buffer_);
    }
    Py_XDECREF(array_);
  }

  // False with a Python error set when the array could not be made.
  bool ready() const noexcept { return ready_; }

  // Copies `nodes` into the next records and returns a CursorList over them.
  PyObject* list_of(const astsieve::NodeList& nodes) {
    auto* records = static_cast<char*>(buffer_.buf);
    const Py_ssize_t start = next_;
    for (const astsieve::CursorTuple& node : nodes) {
      const astsieve::libclang::Cursor cursor = astsieve::from_cursor_tuple(node);
      std::memcpy(records + static_cast<std::size_t>(next_) * sizeof cursor, &cursor,
                  sizeof cursor);
      ++next_;
    }
    return new_cursor_list(array_, unit_, start, next_ - start);
  }

 private:
  PyObject* unit_;
  PyObject* array_ = nullptr;
  Py_buffer buffer_{};
  bool buffered_ = false;
  bool ready_ = false;
  Py_ssize_t next_ = 0;
};

PyObject* path_key(const std::string& path) {
  return PyUnicode_DecodeUTF8(path.data(), static_cast<Py_ssize_t>(path.size()), nullptr);
}

// Sets dict[key] = make_value(), taking the reference to `key`; the value
// is made only once the key exists. False on failure.
template <typename MakeValue>
bool set_new_item(PyObject* dict, PyObject* key, MakeValue make_value) {
  Ref owned_key(key);
  if (key == nullptr) {
    return false;
  }
  Ref value(make_value());
  return value.get() != nullptr && PyDict_SetItem(dict, key, value.get()) == 0;
}

PyObject* lines_of(const astsieve::LinenoToNodes& lines, Records& records) {
  Ref by_line(PyDict_New());
  if (by_line.get() == nullptr) {
    return nullptr;
  }
  for (const auto& [line, nodes] : lines) {
    if (!set_new_item(by_line.get(), PyLong_FromLongLong(line),
                      [&, &nodes = nodes] { return records.list_of(nodes); })) {
      return nullptr;
    }
  }
  return by_line.release();
}

Py_ssize_t node_count(const astsieve::NodeList& nodes) {
  return static_cast<Py_ssize_t>(nodes.size());
}

// The nodes of a map whose values are node lists, or maps of them.
template <typename Map>
Py_ssize_t node_count(const Map& groups) {
  Py_ssize_t count = 0;
  for (const auto& entry : groups) {
    count += node_count(entry.second);
  }
  return count;
}

template <typename Result, typename Value>
PyObject* pack_by_path(const Result& result, PyObject* unit, Value value_of) {
  Ref by_path(PyDict_New());
  if (by_path.get() == nullptr || result.empty()) {
    return by_path.release();
  }
  Records records(unit, node_count(result));
  if (!records.ready()) {
    return nullptr;
  }
  for (const auto& [path, nodes] : result) {
    if (!set_new_item(by_path.get(), path_key(path),
                      [&, &nodes = nodes] { return value_of(nodes, records); })) {
      return nullptr;
    }
  }
  return by_path.release();
}

}  // namespace

PyObject* pack(const astsieve::PathToLinenoToNodes& result, PyObject* unit) {
  return pack_by_path(result, unit, lines_of);
}

PyObject* pack(const astsieve::PathToNodes& result, PyObject* unit) {
  return pack_by_path(result, unit, [](const astsieve::NodeList& nodes, Records& records) {
    return records.list_of(nodes);
  });
}

}  // namespace astsieve_cindex
