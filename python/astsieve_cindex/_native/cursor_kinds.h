// libclang's CXCursorKind values of the kinds the records single out.
// Namespaces and `extern "C"` blocks (libclang 14 reports those as unexposed
// declarations) hold top-level declarations rather than being one.
#pragma once

#include <cstdint>

namespace astsieve_cindex::cursor_kind {

constexpr std::int32_t kUnexposedDecl = 1;
constexpr std::int32_t kStructDecl = 2;
constexpr std::int32_t kUnionDecl = 3;
constexpr std::int32_t kClassDecl = 4;
constexpr std::int32_t kEnumDecl = 5;
constexpr std::int32_t kNamespace = 22;
constexpr std::int32_t kLinkageSpec = 23;
constexpr std::int32_t kMacroDefinition = 501;

}  // namespace astsieve_cindex::cursor_kind
