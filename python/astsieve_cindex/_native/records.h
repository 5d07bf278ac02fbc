// A unit's records (records.py, table.py), made natively in one walk: for
// every node in an accepted file its file, line, column, kind and spelling,
// and the top-level declaration it lies in.
#pragma once

#include <Python.h>

#include <cstdint>
#include <string>

namespace astsieve_cindex {

// (files, declarations, nodes, skipped) of the unit `handle` of `unit`:
// files as libclang names them, in record order; every top-level declaration
// of an accepted file as TableDeclaration, those nodes lie in first in order
// of first use, then the others in record order, equal ones once; nodes as
// TableNode, in record order; the ranges the preprocessor skipped as (file,
// first_line, last_line), in record order. The main path is the unit's
// name as libclang spells it, bytes and all; an anonymous type's name holds
// its file joined to `directory`.
// Throws PythonError or a C++ exception.
PyObject* unit_table(std::uint64_t handle, const std::string& pattern,
                     const std::string& directory);

}  // namespace astsieve_cindex
