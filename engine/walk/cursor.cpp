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
  std::vector<libclang::Cursor>& children;
  std::exception_ptr error;
};

extern "C" libclang::ChildVisitResult child_visitor(libclang::Cursor child,
                                                    libclang::Cursor /*parent*/,
                                                    libclang::ClientData client_data) {
  auto* collection = static_cast<ChildCollection*>(client_data);
  try {
    if (libclang::functions().Cursor_isNull(child) != 0) {
      throw std::runtime_error(kNullChildMessage);
    }
    std::vector<libclang::Cursor>& children = collection->children;
    // Room for a few from the first child on, instead of growing by one,
    // two, four: most cursors that have children have several. A cursor
    // without children costs no allocation.
    if (children.capacity() == 0) {
      children.reserve(kFirstChildrenCapacity);
    }
    children.push_back(child);
  } catch (...) {
    collection->error = std::current_exception();
    return libclang::ChildVisit_Break;
  }
  return libclang::ChildVisit_Continue;
}

std::int32_t low_32_bits(std::int64_t value) noexcept {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(value)));
}

}  // namespace

libclang::Cursor from_cursor_tuple(const CursorTuple& tuple) noexcept {
  libclang::Cursor cursor{};
  cursor.kind = low_32_bits(std::get<0>(tuple));
  cursor.xdata = low_32_bits(std::get<1>(tuple));
  const auto& data = std::get<2>(tuple);
  for (std::size_t i = 0; i < 3; ++i) {
    std::memcpy(&cursor.data[i], &data[i], sizeof(cursor.data[i]));
  }
  return cursor;
}

CursorTuple to_cursor_tuple(const libclang::Cursor& cursor) noexcept {
  std::array<std::uint64_t, 3> data{};
  for (std::size_t i = 0; i < 3; ++i) {
    std::memcpy(&data[i], &cursor.data[i], sizeof(data[i]));
  }
  return {cursor.kind, cursor.xdata, data};
}

std::vector<libclang::Cursor> collect_children(const libclang::Cursor& cursor) {
  std::vector<libclang::Cursor> children;
  collect_children(cursor, children);
  return children;
}

void collect_children(const libclang::Cursor& cursor, std::vector<libclang::Cursor>& children) {
  children.clear();
  ChildCollection collection{children, nullptr};
  libclang::functions().visitChildren(cursor, child_visitor, &collection);
  if (collection.error) {
    std::rethrow_exception(collection.error);
  }
}

}  // namespace astsieve
