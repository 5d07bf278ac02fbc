// The libclang functions that the records need beyond the engine's table,
// declared as the engine declares its own (libclang/api.h) and bound from
// the libclang file that the engine's lookup bound, so that cursors of the
// one are cursors of the other.
#pragma once

#include "libclang/api.h"

namespace astsieve_cindex::record_api {

using astsieve::libclang::Cursor;
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
};

}  // extern "C"

// The bound table; binds the engine's table first, then this one, on first
// use. Throws std::runtime_error as the engine's binding does, or when the
// libclang file lacks one of these functions.
const Functions& functions();

}  // namespace astsieve_cindex::record_api
