#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "walk/cursor.h"

namespace astsieve {
namespace {

constexpr std::uint64_t kTopBit = std::uint64_t{1} << 63;
constexpr std::array<std::uint64_t, 3> kWords = {kTopBit | 1u, ~std::uint64_t{0},
                                                 0x0123'4567'89AB'CDEFu};

std::uint64_t word(const void* pointer) {
  return static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(pointer));
}

TEST(FromCursorTuple, KeepsTheLow32BitsOfKindAndXdataAsSigned) {
  struct Case {
    std::int64_t given;
    std::int32_t kept;
  };
  const Case cases[] = {
      {(std::int64_t{1} << 32) + 8, 8},
      {2147483648, std::numeric_limits<std::int32_t>::min()},
      {4294967295, -1},
      {-1, -1},
      {std::numeric_limits<std::int64_t>::min(), 0},
      {std::numeric_limits<std::int64_t>::max(), -1},
      {-4294967296 + 5, 5},
  };
  for (const Case& c : cases) {
    const libclang::Cursor as_kind = from_cursor_tuple({c.given, 0, kWords});
    EXPECT_EQ(as_kind.kind, c.kept) << "kind " << c.given;
    EXPECT_EQ(as_kind.xdata, 0);
    const libclang::Cursor as_xdata = from_cursor_tuple({0, c.given, kWords});
    EXPECT_EQ(as_xdata.xdata, c.kept) << "xdata " << c.given;
    EXPECT_EQ(as_xdata.kind, 0);
  }
}

TEST(FromCursorTuple, CopiesDataWordsBitForBit) {
  const libclang::Cursor cursor = from_cursor_tuple({1, 2, kWords});
  EXPECT_EQ(word(cursor.data[0]), kWords[0]);
  EXPECT_EQ(word(cursor.data[1]), kWords[1]);
  EXPECT_EQ(word(cursor.data[2]), kWords[2]);
}

TEST(ToCursorTuple, SignExtendsKindAndXdataAndKeepsDataWords) {
  libclang::Cursor cursor{};
  cursor.kind = std::numeric_limits<std::int32_t>::min();
  cursor.xdata = -1;
  for (std::size_t i = 0; i < 3; ++i) {
    cursor.data[i] = reinterpret_cast<const void*>(static_cast<std::uintptr_t>(kWords[i]));
  }
  EXPECT_EQ(to_cursor_tuple(cursor), (CursorTuple{-2147483648, -1, kWords}));
}

TEST(CursorTupleConversions, NarrowedValuesComeBackSignExtended) {
  EXPECT_EQ(to_cursor_tuple(from_cursor_tuple({(std::int64_t{1} << 32) + 8, 0, kWords})),
            (CursorTuple{8, 0, kWords}));
  EXPECT_EQ(to_cursor_tuple(from_cursor_tuple({2147483648, 4294967295, kWords})),
            (CursorTuple{-2147483648, -1, kWords}));
}

TEST(CursorTupleConversions, TuplesInThe32BitRangeRoundTripUnchanged) {
  for (const std::int64_t value : {std::int64_t{-2147483648}, std::int64_t{-1}, std::int64_t{0},
                                   std::int64_t{700}, std::int64_t{2147483647}}) {
    const CursorTuple tuple{value, -value - 1, kWords};
    EXPECT_EQ(to_cursor_tuple(from_cursor_tuple(tuple)), tuple);
  }
}

}  // namespace
}  // namespace astsieve
