#include "cursor.h"

#include <cstring>
#include <exception>
#include <new>
#include <stdexcept>

namespace astsieve {
namespace {

static_assert(sizeof(void*) == sizeof(std::uint64_t), "data words are carried as 64-bit integers");

constexpr std::size_t kFirstChildrenCapacity = 8;

// What a visit collects: the children so far and, if the visit had to stop,
// the error to raise once libclang has returned.
struct ChildCollection {
  std::vector<CXCursor>& children;
  std::exception_ptr error;
};

extern "C" CXChildVisitResult child_visitor(CXCursor child, CXCursor /*parent*/,
                                            CXClientData client_data) {
  auto* collection = static_cast<ChildCollection*>(client_data);
  try {
    if (clang_Cursor_isNull(child) != 0) {
      throw std::runtime_error(kNullChildMessage);
    }
    std::vector<CXCursor>& children = collection->children;
    // Room for a few from the first child on, instead of growing by one,
    // two, four: most cursors that have children have several. A cursor
    // without children costs no allocation.
    if (children.capacity() == 0) {
      children.reserve(kFirstChildrenCapacity);
    }
    children.push_back(child);
  } catch (...) {
    collection->error = std::current_exception();
    return CXChildVisit_Break;
  }
  return CXChildVisit_Continue;
}

// kind is an enumeration; values outside its enumerators are carried by bit
// copy, never by a cast into the enumeration type.
void set_kind(CXCursor& cursor, std::int32_t kind) noexcept {
  static_assert(sizeof(cursor.kind) == sizeof(std::int32_t));
  std::memcpy(&cursor.kind, &kind, sizeof kind);
}

std::int32_t get_kind(const CXCursor& cursor) noexcept {
  std::int32_t kind;
  std::memcpy(&kind, &cursor.kind, sizeof kind);
  return kind;
}

std::int32_t low_32_bits(std::int64_t value) noexcept {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(value)));
}

}  // namespace

CXCursor from_cursor_tuple(const CursorTuple& tuple) noexcept {
  CXCursor cursor{};
  set_kind(cursor, low_32_bits(std::get<0>(tuple)));
  cursor.xdata = low_32_bits(std::get<1>(tuple));
  const auto& data = std::get<2>(tuple);
  for (std::size_t i = 0; i < 3; ++i) {
    std::memcpy(&cursor.data[i], &data[i], sizeof(cursor.data[i]));
  }
  return cursor;
}

CursorTuple to_cursor_tuple(const CXCursor& cursor) noexcept {
  std::array<std::uint64_t, 3> data{};
  for (std::size_t i = 0; i < 3; ++i) {
    std::memcpy(&data[i], &cursor.data[i], sizeof(data[i]));
  }
  return {get_kind(cursor), cursor.xdata, data};
}

std::vector<CXCursor> collect_children(const CXCursor& cursor) {
  std::vector<CXCursor> children;
  collect_children(cursor, children);
  return children;
}

void collect_children(const CXCursor& cursor, std::vector<CXCursor>& children) {
  children.clear();
  ChildCollection collection{children, nullptr};
  clang_visitChildren(cursor, child_visitor, &collection);
  if (collection.error) {
    std::rethrow_exception(collection.error);
  }
}

}  // namespace astsieve
