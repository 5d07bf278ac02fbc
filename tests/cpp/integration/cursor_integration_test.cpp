#include <gtest/gtest.h>

#include "libclang/real.h"
#include "walk/grouping.h"

namespace astsieve {
namespace {

TEST(CursorTuple, RoundTripsRealCursor) {
  CXIndex index = clang_createIndex(0, 0);
  CXUnsavedFile file{"m.c", "int a;\nint b;\n", 14};
  CXTranslationUnit unit = nullptr;
  ASSERT_EQ(clang_parseTranslationUnit2(index, "m.c", nullptr, 0, &file, 1, 0, &unit),
            CXError_Success);
  auto children = collect_children(libclang::from_real(clang_getTranslationUnitCursor(unit)));
  ASSERT_GE(children.size(), 2u);
  const CXCursor child = libclang::to_real(children[0]);
  const CXCursor back = libclang::to_real(from_cursor_tuple(to_cursor_tuple(child)));
  EXPECT_NE(clang_equalCursors(back, child), 0u);
  auto result = get_path_to_lineno_to_nodes(reinterpret_cast<std::uintptr_t>(unit), "", "m.c");
  ASSERT_EQ(result.count("m.c"), 1u);
  EXPECT_EQ(result["m.c"].size(), 2u);
  clang_disposeTranslationUnit(unit);
  clang_disposeIndex(index);
}

}  // namespace
}  // namespace astsieve
