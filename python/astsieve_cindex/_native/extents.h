// Where a unit's top-level declarations lie: each one's extent, from its
// first to its last position, by file, and the one that holds a position.
#pragma once

#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "file_order.h"
#include "libclang/api.h"
#include "names.h"
#include "ref.h"
#include "walk/file_filter.h"

namespace astsieve_cindex {

// (line, column)
using Position = std::pair<std::int64_t, std::int64_t>;

// The expansion position of `location`.
Position expansion_position(const astsieve::libclang::SourceLocation& location);

// A top-level declaration's extent, from its first to its last position.
struct Extent {
  Position start;
  Position end;
  PyObject* kind;    // borrowed from the kind names
  PyObject* name;    // owned by Extents
  Py_ssize_t index;  // in the table's declarations once a node lies in it, else -1
};

// The declarations' extents in each file; sorted, then looked up.
class Extents {
 public:
  explicit Extents(std::size_t files) : by_file_(files), reach_(files) {}
  Extents(const Extents&) = delete;
  Extents& operator=(const Extents&) = delete;
  ~Extents();

  void add(std::size_t file, Position start, Position end, PyObject* kind, Ref name);

  // Orders each file's extents as the Declarations' tuples order: by start,
  // end, kind and name.
  void sort();

  std::vector<Extent>& in_file(std::size_t file) { return by_file_[file]; }

  // Of the extents of `file` that hold `position`, the one that starts last
  // (extents overlap: `struct s {...} value;`, a `#define` inside a
  // function); nullptr if none does.
  Extent* at(std::size_t file, Position position);

 private:
  std::vector<std::vector<Extent>> by_file_;
  std::vector<std::vector<Position>> reach_;
};

// Adds to `extents` the top-level declarations of the unit whose cursor is
// `unit` that lie in files with nodes, looking through namespaces and
// `extern "C"` blocks. Throws PythonError or a C++ exception.
void collect_declarations(const astsieve::libclang::Cursor& unit, astsieve::FileFilter& filter,
                          const Files& files, const Names& names, Extents& extents);

}  // namespace astsieve_cindex
