// The part of libclang's C interface that the engine uses, declared here so
// that building needs no libclang: its value types, laid out as libclang
// lays them out (unchanged from LLVM 14 to 22), and a table of the eight
// functions the engine calls. The table is bound at run time to the libclang
// already loaded in the process, the one whose handles and cursors the
// caller passes in. A table is declared as table.h describes.
#pragma once

#include <atomic>
#include <cstdint>

namespace astsieve::libclang {

// CXCursor: the kind is carried as its 32 bits, whatever the value.
struct Cursor {
  std::int32_t kind;
  std::int32_t xdata;
  const void* data[3];
};

// CXSourceLocation
struct SourceLocation {
  const void* ptr_data[2];
  unsigned int_data;
};

// CXString
struct String {
  const void* data;
  unsigned private_flags;
};

// CXFile, CXTranslationUnit, CXClientData
using File = void*;
struct TranslationUnitImpl;
using TranslationUnit = TranslationUnitImpl*;
using ClientData = void*;

// CXChildVisitResult
enum ChildVisitResult { ChildVisit_Break, ChildVisit_Continue, ChildVisit_Recurse };

extern "C" {

// CXCursorVisitor
using CursorVisitor = ChildVisitResult (*)(Cursor cursor, Cursor parent, ClientData client_data);

// The functions, named as in libclang without the "clang_" prefix.
struct Functions {
  Cursor (*getTranslationUnitCursor)(TranslationUnit unit);
  unsigned (*visitChildren)(Cursor parent, CursorVisitor visitor, ClientData client_data);
  int (*Cursor_isNull)(Cursor cursor);
  SourceLocation (*getCursorLocation)(Cursor cursor);
  void (*getInstantiationLocation)(SourceLocation location, File* file, unsigned* line,
                                   unsigned* column, unsigned* offset);
  String (*getFileName)(File file);
  const char* (*getCString)(String string);
  void (*disposeString)(String string);
};

}  // extern "C"

// Calls `bind(symbol_name, slot)` for each function of `table`.
template <typename Bind>
void for_each_function(Functions& table, Bind&& bind) {
  bind("clang_getTranslationUnitCursor", table.getTranslationUnitCursor);
  bind("clang_visitChildren", table.visitChildren);
  bind("clang_Cursor_isNull", table.Cursor_isNull);
  bind("clang_getCursorLocation", table.getCursorLocation);
  bind("clang_getInstantiationLocation", table.getInstantiationLocation);
  bind("clang_getFileName", table.getFileName);
  bind("clang_getCString", table.getCString);
  bind("clang_disposeString", table.disposeString);
}

namespace detail {
extern std::atomic<const Functions*> bound;
const Functions& bind();
}  // namespace detail

// The bound table for each libclang call; binds it on first use. Throws
// std::runtime_error when no libclang, or more than one, is loaded.
inline const Functions& functions() {
  const Functions* table = detail::bound.load(std::memory_order_acquire);
  return table != nullptr ? *table : detail::bind();
}

// The same, once at the start of each query that is about to call libclang:
// if objects were loaded since the binding, the process is looked over again,
// and a second libclang file among them fails the query.
const Functions& functions_for_query();

}  // namespace astsieve::libclang
