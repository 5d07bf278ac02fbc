#include "record_api.h"

#include <type_traits>

#include "libclang/lookup.h"

namespace astsieve_cindex::record_api {
namespace {

template <typename Bind>
void for_each_function(Functions& table, Bind&& bind) {
  bind("clang_getCursorSpelling", table.getCursorSpelling);
  bind("clang_getCursorExtent", table.getCursorExtent);
  bind("clang_getRangeStart", table.getRangeStart);
  bind("clang_getRangeEnd", table.getRangeEnd);
  bind("clang_isDeclaration", table.isDeclaration);
  bind("clang_isTranslationUnit", table.isTranslationUnit);
  bind("clang_getCursorSemanticParent", table.getCursorSemanticParent);
  bind("clang_equalCursors", table.equalCursors);
  bind("clang_Cursor_isAnonymous", table.Cursor_isAnonymous);
  bind("clang_getCursorType", table.getCursorType);
  bind("clang_getTypeSpelling", table.getTypeSpelling);
  bind("clang_getAllSkippedRanges", table.getAllSkippedRanges);
  bind("clang_disposeSourceRangeList", table.disposeSourceRangeList);
}

Functions bind_table() {
  astsieve::libclang::functions();  // finds the libclang file, or throws
  Functions table{};
  for_each_function(table, [](const char* name, auto& slot) {
    void* symbol = astsieve::libclang::find_in_bound(name);
    if (symbol == nullptr) {
      throw astsieve::libclang::missing_function_error("that astsieve bound", name);
    }
    slot = reinterpret_cast<std::remove_reference_t<decltype(slot)>>(symbol);
  });
  return table;
}

}  // namespace

const Functions& functions() {
  // Called with the GIL held, as every function of the helper is.
  static const Functions table = bind_table();
  return table;
}

}  // namespace astsieve_cindex::record_api
