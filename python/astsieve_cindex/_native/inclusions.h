// The files a unit included, listed natively: clang.cindex makes a File
// object and a str through ctypes for each of a unit's hundreds of
// inclusions.
#pragma once

#include <Python.h>

#include <cstdint>

namespace astsieve_cindex {

// [name, ...] of every file the unit of `handle` included, in libclang's
// order (clang_getInclusions), the main file left out, repeats kept; each
// name as libclang spells it, decoded as names.py's name_text decodes what
// clang.cindex fails to (UTF-8, else UTF-8 with surrogatepass, else with
// surrogateescape). Throws PythonError.
PyObject* included_names(std::uint64_t handle);

}  // namespace astsieve_cindex
