// The libclang functions that the records need beyond the engine's table,
// declared as every table is (libclang/table.h) and bound from the libclang
// file that the engine's lookup bound, so that cursors of the one are
// cursors of the other.
#pragma once

#include "libclang/table.h"

namespace astsieve_cindex::record_api {

using astsieve::libclang::ClientData;
using astsieve::libclang::Cursor;
using astsieve::libclang::File;
using astsieve::libclang::SourceLocation;
using astsieve::libclang::String;
using astsieve::libclang::TranslationUnit;

// CXSourceRange
struct SourceRange {
  const void* ptr_data[2];
  unsigned begin_int_data;
  unsigned end_int_data;
};

// CXSourceRangeList
struct SourceRangeList {
  unsigned count;
  SourceRange* ranges;
};

// CXType
struct Type {
  int kind;
  void* data[2];
};

extern "C" {

// CXInclusionVisitor: a file the unit included, and the stack of inclusions
// that reached it (empty for the main file).
using InclusionVisitor = void (*)(File included_file, SourceLocation* inclusion_stack,
                                  unsigned include_len, ClientData client_data);

// Named as in libclang without the "clang_" prefix. A CXCursorKind is passed
// as the int it is.
struct Functions {
  String (*getCursorSpelling)(Cursor cursor);
  SourceRange (*getCursorExtent)(Cursor cursor);
  SourceLocation (*getRangeStart)(SourceRange range);
  SourceLocation (*getRangeEnd)(SourceRange range);
  unsigned (*isDeclaration)(int kind);
  unsigned (*isTranslationUnit)(int kind);
  Cursor (*getCursorSemanticParent)(Cursor cursor);
  unsigned (*equalCursors)(Cursor a, Cursor b);
  unsigned (*Cursor_isAnonymous)(Cursor cursor);  // LLVM 9 on
  Type (*getCursorType)(Cursor cursor);
  String (*getTypeSpelling)(Type type);
  SourceRangeList* (*getAllSkippedRanges)(TranslationUnit unit);
  void (*disposeSourceRangeList)(SourceRangeList* ranges);
  void (*getInclusions)(TranslationUnit unit, InclusionVisitor visitor, ClientData client_data);
};

}  // extern "C"

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
  bind("clang_getInclusions", table.getInclusions);
}

// The bound table; binds the engine's table first, then this one, on first
// use. Throws std::runtime_error as the engine's binding does, or when the
// libclang file lacks one of these functions.
inline const Functions& functions() { return astsieve::libclang::bound_table<Functions>(); }

}  // namespace astsieve_cindex::record_api
