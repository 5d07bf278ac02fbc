// The text a file part's digest is taken of (formats/part.py), made
// natively: json.dumps of its declarations and nodes, byte for byte, without
// a tuple made for each node.
#pragma once

#include <Python.h>

namespace astsieve_cindex {

// json.dumps([[[d.kind, d.name, d.first_line, d.last_line] for d in
// declarations], [(n.line, n.column, n.kind, n.spelling, local[n.declaration])
// for n in nodes]]) of table.py's rows: ASCII, with json's escapes and
// separators. Throws PythonError (TypeError for a row of another shape,
// IndexError for a declaration that `local` does not hold).
PyObject* part_text(PyObject* declarations, PyObject* nodes, PyObject* local);

}  // namespace astsieve_cindex
