// Cursor records, their Python-facing tuple form, and child collection.
#pragma once

#include <array>
#include <cstdint>
#include <tuple>
#include <vector>

#include "libclang/api.h"

namespace astsieve {

// (kind, xdata, [data0, data1, data2]): the form in which a cursor crosses
// the Python boundary.
using CursorTuple = std::tuple<std::int64_t, std::int64_t, std::array<std::uint64_t, 3>>;

// kind and xdata keep their low 32 bits (read as signed); data words are
// copied bit for bit.
libclang::Cursor from_cursor_tuple(const CursorTuple& tuple) noexcept;

// kind and xdata are sign-extended; data words are copied bit for bit.
CursorTuple to_cursor_tuple(const libclang::Cursor& cursor) noexcept;

// The direct children of `cursor` in libclang's visiting order. Throws
// std::runtime_error if libclang reports a null child, std::bad_alloc if the
// array cannot grow. No exception ever crosses libclang's own frames.
std::vector<libclang::Cursor> collect_children(const libclang::Cursor& cursor);

// The same into `children`, which is emptied first and keeps its capacity,
// so that a walk needs one array for all its nodes. After a throw its
// contents are unspecified.
void collect_children(const libclang::Cursor& cursor, std::vector<libclang::Cursor>& children);

// Message of the error raised for a null child.
inline constexpr const char* kNullChildMessage = "FIXME: Document this assertion in API";

}  // namespace astsieve
