// A unit's records (records.py, table.py), made natively in one walk: for
// every node in an accepted file its file, line, column, kind and spelling,
// and the top-level declaration it lies in.
#pragma once

#include <Python.h>

#include <cstdint>
#include <string>

namespace astsieve_cindex {

// bind_records(kind_names, node_type, declaration_type): the bindings' kind
// names by id, and table.py's TableNode and TableDeclaration. nullptr with
// a Python error set on failure.
PyObject* bind_records(PyObject* module, PyObject* args);

// (files, declarations, nodes) of the unit `handle` of `unit`: files as
// libclang names them, in record order; declarations as TableDeclaration,
// in order of first use, equal ones once; nodes as TableNode, in record
// order. The main path is the unit's spelling. Throws PythonError or a C++
// exception.
PyObject* unit_table(std::uint64_t handle, PyObject* unit, const std::string& pattern);

}  // namespace astsieve_cindex
