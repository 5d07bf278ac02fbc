// A string that libclang made, disposed of when it goes out of scope, on
// every path: hold it in the narrowest scope, copy its text, and let it go.
#pragma once

#include <string>
#include <string_view>

#include "api.h"

namespace astsieve::libclang {

class OwnedString {
 public:
  // Takes `string`, just returned by a function of libclang, and reads its
  // text once; `api` is the engine's table, whose functions read and
  // dispose of it.
  OwnedString(const Functions& api, String string) noexcept
      : api_(api), string_(string), text_(api.getCString(string)) {}
  OwnedString(const OwnedString&) = delete;
  OwnedString& operator=(const OwnedString&) = delete;
  ~OwnedString() { api_.disposeString(string_); }

  // nullptr for a string without text.
  const char* c_str() const noexcept { return text_; }
  // Empty for a string without text too.
  std::string_view view() const noexcept { return std::string_view(text_ != nullptr ? text_ : ""); }
  std::string copy() const { return std::string(view()); }

 private:
  const Functions& api_;
  String string_;
  const char* text_;
};

}  // namespace astsieve::libclang
