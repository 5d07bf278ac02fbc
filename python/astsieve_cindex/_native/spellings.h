// libclang's text in the records: copied out of libclang's strings, decoded
// into str, and each spelling of a walk made into one str.
#pragma once

#include <Python.h>

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>

#include "libclang/api.h"

namespace astsieve_cindex {

// libclang's bytes as str. A file name or spelling that is not valid UTF-8
// is decoded with surrogateescape, as Python's os functions decode file
// names: no name fails the records, and os.fsencode gives the bytes back.
// Throws PythonError.
PyObject* decoded(const char* text, std::size_t size);

// The text of `string`, just made by libclang, which is disposed of as soon
// as it is copied; a string without text reads as empty. A string exists, so
// the engine's table is bound.
std::string text_of(astsieve::libclang::String string);

// The spellings of a walk, each text made into one str: most recur (type
// names, callees, operators), and a shared str costs no memory, nor any
// pickling, a second time.
class Spellings {
 public:
  Spellings() = default;
  Spellings(const Spellings&) = delete;
  Spellings& operator=(const Spellings&) = delete;
  ~Spellings();

  // A new reference. Throws PythonError.
  PyObject* of(const astsieve::libclang::Cursor& cursor);

 private:
  std::unordered_map<std::string_view, PyObject*> known_;
};

}  // namespace astsieve_cindex
