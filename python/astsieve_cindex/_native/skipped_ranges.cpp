#include "skipped_ranges.h"

#include <algorithm>
#include <cstddef>
#include <tuple>

#include "errors.h"
#include "extents.h"
#include "record_api.h"
#include "ref.h"

namespace astsieve_cindex {

std::vector<Skipped> skipped_ranges(astsieve::libclang::TranslationUnit unit,
                                    astsieve::FileFilter& filter, Files& files) {
  const record_api::Functions& api = record_api::functions();
  struct Disposer {
    const record_api::Functions& api;
    record_api::SourceRangeList* list;
    ~Disposer() {
      if (list != nullptr) {
        api.disposeSourceRangeList(list);
      }
    }
  } ranges{api, api.getAllSkippedRanges(unit)};
  std::vector<Skipped> found;
  if (ranges.list == nullptr) {
    return found;
  }
  astsieve::FileVerdict verdict;
  for (unsigned i = 0; i < ranges.list->count; ++i) {
    const record_api::SourceRange& range = ranges.list->ranges[i];
    filter.classify(api.getRangeStart(range), verdict);
    if (verdict.kind == astsieve::FileVerdict::Accepted) {
      const Position end = expansion_position(api.getRangeEnd(range));
      found.push_back(Skipped{files.index_of(verdict.path), verdict.line, end.first});
    }
  }
  return found;
}

PyObject* skipped_list(std::vector<Skipped>& skipped, const FileOrder& order) {
  for (Skipped& range : skipped) {
    range.file = order.rank(range.file);
  }
  const auto key = [](const Skipped& range) {
    return std::make_tuple(range.file, range.first_line, range.last_line);
  };
  std::sort(skipped.begin(), skipped.end(),
            [&key](const Skipped& a, const Skipped& b) { return key(a) < key(b); });
  skipped.erase(
      std::unique(skipped.begin(), skipped.end(),
                  [&key](const Skipped& a, const Skipped& b) { return key(a) == key(b); }),
      skipped.end());
  Ref list(checked(PyList_New(static_cast<Py_ssize_t>(skipped.size()))));
  for (std::size_t i = 0; i < skipped.size(); ++i) {
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i),
                    checked(Py_BuildValue("(ILL)", skipped[i].file,
                                          static_cast<long long>(skipped[i].first_line),
                                          static_cast<long long>(skipped[i].last_line))));
  }
  return list.release();
}

}  // namespace astsieve_cindex
