// The files of a unit's records: numbered as the walk first meets them, then
// put in record order, the main file first and then by path.
#pragma once

#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "ref.h"

namespace astsieve_cindex {

// The files of the nodes by their names as libclang reports them, numbered
// in order of first sight.
class Files {
 public:
  std::uint32_t index_of(const std::string& path);

  // -1 for a file without nodes.
  std::int64_t find(const std::string& path) const;

  const std::vector<std::string>& paths() const noexcept { return paths_; }

 private:
  std::vector<std::string> paths_;
  std::unordered_map<std::string, std::uint32_t> index_;
  std::uint32_t last_ = 0;
};

// The table's files as str, each file's place among them, in record order:
// the main file first, then by path (as str compares).
class FileOrder {
 public:
  // Throws PythonError.
  FileOrder(const std::vector<std::string>& paths, const std::string& main_path);

  std::uint32_t rank(std::uint32_t file) const { return rank_[file]; }
  // The file at `place` in record order.
  std::uint32_t at(std::size_t place) const { return order_[place]; }
  PyObject* files() { return files_.release(); }

 private:
  std::vector<std::uint32_t> rank_;
  std::vector<std::uint32_t> order_;
  Ref files_;
};

}  // namespace astsieve_cindex
