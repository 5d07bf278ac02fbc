// The names of declarations as the records give them: qualified by the
// scopes around them (namespaces and classes, through the semantic parent,
// so that an out-of-line definition names its class), an anonymous type as
// `(anonymous struct at FILE:LINE)` with FILE as the records name files.
#pragma once

#include <string>
#include <utility>

#include "libclang/api.h"

namespace astsieve_cindex {

class Names {
 public:
  explicit Names(std::string directory) : directory_(std::move(directory)) {}

  // The name of a top-level declaration whose lexical parent, `parent`, is
  // named by `prefix` (ending in "::" unless empty).
  std::string qualified(const astsieve::libclang::Cursor& cursor,
                        const astsieve::libclang::Cursor& parent, const std::string& prefix) const;

  // A declaration's own name; a namespace's too.
  void append_own(const astsieve::libclang::Cursor& cursor, std::string& name) const;

 private:
  void append_scopes(const astsieve::libclang::Cursor& scope, std::string& name, int depth) const;
  void append_anonymous(const astsieve::libclang::Cursor& cursor, const char* keyword,
                        std::string& name) const;

  std::string directory_;
};

}  // namespace astsieve_cindex
