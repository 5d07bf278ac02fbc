#include "spellings.h"

#include "errors.h"
#include "libclang/owned_string.h"
#include "record_api.h"
#include "ref.h"

namespace astsieve_cindex {

namespace lc = astsieve::libclang;

PyObject* decoded(const char* text, std::size_t size) {
  return checked(PyUnicode_DecodeUTF8(text, static_cast<Py_ssize_t>(size), "surrogateescape"));
}

std::string text_of(lc::String string) { return lc::OwnedString(lc::functions(), string).copy(); }

Spellings::~Spellings() {
  for (const auto& entry : known_) {
    Py_DECREF(entry.second);
  }
}

PyObject* Spellings::of(const lc::Cursor& cursor) {
  const lc::Functions& engine = lc::functions();
  Ref spelling;
  {
    const lc::OwnedString text(engine, record_api::functions().getCursorSpelling(cursor));
    const auto found = known_.find(text.view());
    if (found != known_.end()) {
      Py_INCREF(found->second);
      return found->second;
    }
    spelling = Ref(decoded(text.view().data(), text.view().size()));
  }
  // The key is the str's own UTF-8, alive as long as the str; a str holding
  // escaped bytes has none and is not shared.
  Py_ssize_t length = 0;
  const char* own = PyUnicode_AsUTF8AndSize(spelling.get(), &length);
  if (own == nullptr) {
    PyErr_Clear();
    return spelling.release();
  }
  known_.emplace(std::string_view(own, static_cast<std::size_t>(length)), spelling.get());
  Py_INCREF(spelling.get());
  return spelling.release();
}

}  // namespace astsieve_cindex
