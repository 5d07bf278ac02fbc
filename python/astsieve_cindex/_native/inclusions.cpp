#include "inclusions.h"

#include <cstddef>
#include <new>
#include <string>
#include <vector>

#include "errors.h"
#include "libclang/owned_string.h"
#include "record_api.h"
#include "ref.h"

namespace astsieve_cindex {
namespace {

namespace lc = astsieve::libclang;

// What the visitor collects; no exception leaves it into libclang.
struct Collected {
  std::vector<std::string> names;
  bool out_of_memory = false;
};

void visit(lc::File file, lc::SourceLocation*, unsigned depth, lc::ClientData data) {
  auto& collected = *static_cast<Collected*>(data);
  if (depth == 0 || collected.out_of_memory) {
    return;
  }
  try {
    const lc::Functions& api = lc::functions();
    collected.names.push_back(lc::OwnedString(api, api.getFileName(file)).copy());
  } catch (const std::bad_alloc&) {
    collected.out_of_memory = true;
  }
}

PyObject* name_of(const std::string& name) {
  const auto size = static_cast<Py_ssize_t>(name.size());
  for (const char* errors : {"strict", "surrogatepass"}) {
    PyObject* text = PyUnicode_DecodeUTF8(name.data(), size, errors);
    if (text != nullptr) {
      return text;
    }
    if (!PyErr_ExceptionMatches(PyExc_UnicodeDecodeError)) {
      throw PythonError{};
    }
    PyErr_Clear();
  }
  return checked(PyUnicode_DecodeUTF8(name.data(), size, "surrogateescape"));
}

}  // namespace

PyObject* included_names(std::uint64_t handle) {
  Collected collected;
  if (handle != 0) {
    record_api::functions().getInclusions(
        reinterpret_cast<lc::TranslationUnit>(static_cast<std::uintptr_t>(handle)), visit,
        &collected);
  }
  if (collected.out_of_memory) {
    throw std::bad_alloc();
  }
  Ref names(checked(PyList_New(static_cast<Py_ssize_t>(collected.names.size()))));
  for (std::size_t index = 0; index < collected.names.size(); ++index) {
    PyList_SET_ITEM(names.get(), static_cast<Py_ssize_t>(index), name_of(collected.names[index]));
  }
  return names.release();
}

}  // namespace astsieve_cindex
