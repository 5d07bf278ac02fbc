#include "part_text.h"

#include <cstddef>
#include <string>

#include "errors.h"

namespace astsieve_cindex {
namespace {

// What a column of the digest's rows holds.
enum class Field { kText, kNumber, kLocalDeclaration };
struct Column {
  Py_ssize_t index;  // of the field in table.py's row
  Field field;
};
// [kind, name, first_line, last_line] of a TableDeclaration (5 fields) and
// (line, column, kind, spelling, local[declaration]) of a TableNode (6).
constexpr Py_ssize_t kDeclarationFields = 5;
constexpr Column kDeclarationColumns[] = {
    {0, Field::kText}, {1, Field::kText}, {3, Field::kNumber}, {4, Field::kNumber}};
constexpr Py_ssize_t kNodeFields = 6;
constexpr Column kNodeColumns[] = {{1, Field::kNumber},
                                   {2, Field::kNumber},
                                   {3, Field::kText},
                                   {4, Field::kText},
                                   {5, Field::kLocalDeclaration}};

[[noreturn]] void type_error(const char* what) {
  PyErr_Format(PyExc_TypeError, "part_text() takes %s", what);
  throw PythonError{};
}

void append_hex(std::string& out, Py_UCS4 unit) {
  static const char kDigits[] = "0123456789abcdef";
  out += "\\u";
  for (int shift = 12; shift >= 0; shift -= 4) {
    out += kDigits[(unit >> shift) & 0xf];
  }
}

// As json's encode_basestring_ascii writes a str.
void append_string(std::string& out, PyObject* text) {
  if (!PyUnicode_Check(text)) {
    type_error("rows whose kinds, names and spellings are str");
  }
  const int kind = PyUnicode_KIND(text);
  const void* data = PyUnicode_DATA(text);
  const Py_ssize_t length = PyUnicode_GET_LENGTH(text);
  out += '"';
  for (Py_ssize_t index = 0; index < length; ++index) {
    const Py_UCS4 c = PyUnicode_READ(kind, data, index);
    if (c >= ' ' && c <= '~' && c != '"' && c != '\\') {
      out += static_cast<char>(c);
      continue;
    }
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\f':
        out += "\\f";
        break;
      default:
        if (c >= 0x10000) {
          const Py_UCS4 rest = c - 0x10000;
          append_hex(out, 0xd800 | (rest >> 10));
          append_hex(out, 0xdc00 | (rest & 0x3ff));
        } else {
          append_hex(out, c);
        }
    }
  }
  out += '"';
}

void append_int(std::string& out, PyObject* number) {
  if (!PyLong_CheckExact(number)) {
    type_error("rows whose lines and indices are int");
  }
  const long long value = PyLong_AsLongLong(number);
  if (value == -1 && PyErr_Occurred()) {
    throw PythonError{};
  }
  out += std::to_string(value);
}

void append_local(std::string& out, PyObject* local, PyObject* declaration) {
  if (!PyLong_CheckExact(declaration)) {
    type_error("rows whose lines and indices are int");
  }
  Py_ssize_t index = PyLong_AsSsize_t(declaration);
  if (index == -1 && PyErr_Occurred()) {
    throw PythonError{};
  }
  const Py_ssize_t size = PyList_GET_SIZE(local);
  if (index < 0) {
    index += size;  // as Python indexes: local[-1], NO_DECLARATION's, is None
  }
  if (index < 0 || index >= size) {
    PyErr_SetString(PyExc_IndexError, "part_text(): a declaration index out of range");
    throw PythonError{};
  }
  PyObject* mapped = PyList_GET_ITEM(local, index);
  if (mapped == Py_None) {
    out += "null";
  } else {
    append_int(out, mapped);
  }
}

// `[row, ...]` of a list of table rows of `fields` fields, each row the
// `columns` of it.
template <std::size_t kColumns>
void append_rows(std::string& out, PyObject* rows, Py_ssize_t fields,
                 const Column (&columns)[kColumns], PyObject* local) {
  out += '[';
  for (Py_ssize_t index = 0; index < PyList_GET_SIZE(rows); ++index) {
    PyObject* found = PyList_GET_ITEM(rows, index);
    if (!PyTuple_Check(found) || PyTuple_GET_SIZE(found) != fields) {
      type_error("lists of table rows");
    }
    out += index == 0 ? "[" : ", [";
    for (std::size_t column = 0; column < kColumns; ++column) {
      if (column > 0) {
        out += ", ";
      }
      PyObject* value = PyTuple_GET_ITEM(found, columns[column].index);
      switch (columns[column].field) {
        case Field::kText:
          append_string(out, value);
          break;
        case Field::kNumber:
          append_int(out, value);
          break;
        case Field::kLocalDeclaration:
          append_local(out, local, value);
          break;
      }
    }
    out += ']';
  }
  out += ']';
}

}  // namespace

PyObject* part_text(PyObject* declarations, PyObject* nodes, PyObject* local) {
  if (!PyList_Check(declarations) || !PyList_Check(nodes) || !PyList_Check(local)) {
    type_error("lists of declarations, nodes and local indices");
  }
  std::string out = "[";
  append_rows(out, declarations, kDeclarationFields, kDeclarationColumns, local);
  out += ", ";
  append_rows(out, nodes, kNodeFields, kNodeColumns, local);
  out += ']';
  return checked(PyUnicode_DecodeASCII(out.data(), static_cast<Py_ssize_t>(out.size()), nullptr));
}

}  // namespace astsieve_cindex
