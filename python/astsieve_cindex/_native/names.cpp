#include "names.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "cursor_kinds.h"
#include "record_api.h"
#include "spellings.h"

namespace astsieve_cindex {
namespace {

namespace lc = astsieve::libclang;
using namespace cursor_kind;

constexpr const char* kAnonymousNamespace = "(anonymous namespace)";
// Scopes above a declaration followed for its name; deeper ones are left out
// rather than followed without end.
constexpr int kMaxScopes = 256;

// The keyword of a struct, union, class or enum declaration; nullptr for
// other kinds.
const char* tag_keyword(std::int32_t kind) {
  switch (kind) {
    case kStructDecl:
      return "struct";
    case kUnionDecl:
      return "union";
    case kClassDecl:
      return "class";
    case kEnumDecl:
      return "enum";
    default:
      return nullptr;
  }
}

bool is_identifier(std::string_view text) {
  if (text.empty() || (text[0] >= '0' && text[0] <= '9')) {
    return false;
  }
  return std::all_of(text.begin(), text.end(), [](char c) {
    return c == '_' || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
  });
}

}  // namespace

std::string Names::qualified(const lc::Cursor& cursor, const lc::Cursor& parent,
                             const std::string& prefix) const {
  const record_api::Functions& api = record_api::functions();
  const lc::Cursor scope = api.getCursorSemanticParent(cursor);
  std::string name;
  if (lc::functions().Cursor_isNull(scope) != 0 || api.equalCursors(scope, parent) != 0) {
    name = prefix;
  } else {
    append_scopes(scope, name, 0);
  }
  append_own(cursor, name);
  return name;
}

void Names::append_own(const lc::Cursor& cursor, std::string& name) const {
  const record_api::Functions& api = record_api::functions();
  std::string spelling = text_of(api.getCursorSpelling(cursor));
  if (cursor.kind == kNamespace) {
    name += spelling.empty() ? kAnonymousNamespace : spelling;
    return;
  }
  const char* keyword = tag_keyword(cursor.kind);
  if (keyword == nullptr) {
    name += spelling;
    return;
  }
  // libclang 16 on spells an anonymous type `(unnamed struct at /abs/x.h:3:9)`
  // or `struct (unnamed at ...)`, earlier ones "". A type named by a typedef
  // (`typedef struct {...} t;`) takes that name, which libclang before 16
  // gives only as the type's spelling (`ns::t`).
  if (api.Cursor_isAnonymous(cursor) == 0) {
    if (spelling.empty()) {
      const std::string type = text_of(api.getTypeSpelling(api.getCursorType(cursor)));
      const std::size_t scope = type.rfind("::");
      const std::string last = scope == std::string::npos ? type : type.substr(scope + 2);
      if (is_identifier(last)) {
        spelling = last;
      }
    }
    if (!spelling.empty()) {
      name += spelling;
      return;
    }
  }
  append_anonymous(cursor, keyword, name);
}

void Names::append_scopes(const lc::Cursor& scope, std::string& name, int depth) const {
  const record_api::Functions& api = record_api::functions();
  if (depth >= kMaxScopes || lc::functions().Cursor_isNull(scope) != 0 ||
      api.isTranslationUnit(scope.kind) != 0) {
    return;
  }
  append_scopes(api.getCursorSemanticParent(scope), name, depth + 1);
  if (scope.kind != kLinkageSpec && scope.kind != kUnexposedDecl) {  // extern "C"
    append_own(scope, name);
    name += "::";
  }
}

void Names::append_anonymous(const lc::Cursor& cursor, const char* keyword,
                             std::string& name) const {
  const lc::Functions& api = lc::functions();
  lc::File file = nullptr;
  unsigned line = 0;
  api.getInstantiationLocation(api.getCursorLocation(cursor), &file, &line, nullptr, nullptr);
  name += "(anonymous ";
  name += keyword;
  const std::string path = file != nullptr ? text_of(api.getFileName(file)) : std::string();
  if (!path.empty()) {
    name += " at ";
    // As os.path.join(directory, path) joins them.
    if (path[0] != '/' && !directory_.empty()) {
      name += directory_;
      if (directory_.back() != '/') {
        name += '/';
      }
    }
    name += path;
    name += ':';
    name += std::to_string(line);
  }
  name += ')';
}

}  // namespace astsieve_cindex
