#include "file_order.h"

#include <algorithm>
#include <numeric>

#include "errors.h"
#include "spellings.h"

namespace astsieve_cindex {

std::uint32_t Files::index_of(const std::string& path) {
  if (last_ < paths_.size() && paths_[last_] == path) {
    return last_;
  }
  const auto entry = index_.try_emplace(path, static_cast<std::uint32_t>(paths_.size())).first;
  if (entry->second == paths_.size()) {
    paths_.push_back(path);
  }
  last_ = entry->second;
  return last_;
}

std::int64_t Files::find(const std::string& path) const {
  const auto entry = index_.find(path);
  return entry != index_.end() ? static_cast<std::int64_t>(entry->second) : -1;
}

FileOrder::FileOrder(const std::vector<std::string>& paths, const std::string& main_path)
    : rank_(paths.size()) {
  Ref names(checked(PyTuple_New(static_cast<Py_ssize_t>(paths.size()))));
  for (std::size_t i = 0; i < paths.size(); ++i) {
    PyTuple_SET_ITEM(names.get(), static_cast<Py_ssize_t>(i),
                     decoded(paths[i].data(), paths[i].size()));
  }
  std::vector<std::size_t> order(paths.size());
  std::iota(order.begin(), order.end(), 0);
  std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    const bool a_main = paths[a] == main_path;
    const bool b_main = paths[b] == main_path;
    if (a_main != b_main) {
      return a_main;
    }
    return PyUnicode_Compare(PyTuple_GET_ITEM(names.get(), static_cast<Py_ssize_t>(a)),
                             PyTuple_GET_ITEM(names.get(), static_cast<Py_ssize_t>(b))) < 0;
  });
  files_ = Ref(checked(PyTuple_New(static_cast<Py_ssize_t>(paths.size()))));
  for (std::size_t place = 0; place < order.size(); ++place) {
    PyObject* name = PyTuple_GET_ITEM(names.get(), static_cast<Py_ssize_t>(order[place]));
    Py_INCREF(name);
    PyTuple_SET_ITEM(files_.get(), static_cast<Py_ssize_t>(place), name);
    rank_[order[place]] = static_cast<std::uint32_t>(place);
    order_.push_back(static_cast<std::uint32_t>(order[place]));
  }
}

}  // namespace astsieve_cindex
