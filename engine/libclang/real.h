// For code built against a real libclang's <clang-c/Index.h> beside the
// engine (the C++ tests, the benchmarks); the engine itself never includes
// it. Checks that the engine's declarations lay libclang's values out as the
// real header does, and converts cursors between the two.
#pragma once

#include <clang-c/Index.h>

#include <cstddef>
#include <cstring>

#include "api.h"
#include "walk/cursor.h"

namespace astsieve::libclang {

static_assert(sizeof(Cursor) == sizeof(CXCursor) && alignof(Cursor) == alignof(CXCursor));
static_assert(sizeof(Cursor::kind) == sizeof(CXCursor::kind));
static_assert(offsetof(Cursor, xdata) == offsetof(CXCursor, xdata));
static_assert(offsetof(Cursor, data) == offsetof(CXCursor, data));
static_assert(sizeof(SourceLocation) == sizeof(CXSourceLocation));
static_assert(offsetof(SourceLocation, int_data) == offsetof(CXSourceLocation, int_data));
static_assert(sizeof(String) == sizeof(CXString));
static_assert(offsetof(String, private_flags) == offsetof(CXString, private_flags));
static_assert(sizeof(File) == sizeof(CXFile) &&
              sizeof(TranslationUnit) == sizeof(CXTranslationUnit));
static_assert(static_cast<int>(ChildVisit_Break) == CXChildVisit_Break &&
              static_cast<int>(ChildVisit_Continue) == CXChildVisit_Continue &&
              static_cast<int>(ChildVisit_Recurse) == CXChildVisit_Recurse);
static_assert(sizeof(ChildVisitResult) == sizeof(CXChildVisitResult));

inline Cursor from_real(const CXCursor& real) {
  Cursor cursor;
  std::memcpy(&cursor, &real, sizeof cursor);
  return cursor;
}

inline CXCursor to_real(const Cursor& cursor) {
  CXCursor real;
  std::memcpy(&real, &cursor, sizeof real);
  return real;
}

}  // namespace astsieve::libclang

namespace astsieve {

inline CursorTuple to_cursor_tuple(const CXCursor& cursor) {
  return to_cursor_tuple(libclang::from_real(cursor));
}

}  // namespace astsieve
