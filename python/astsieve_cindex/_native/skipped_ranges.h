// The ranges of lines that the preprocessor skipped in a unit's accepted
// files (`#if 0` to `#endif`, both directives' lines included).
#pragma once

#include <Python.h>

#include <cstdint>
#include <vector>

#include "file_order.h"
#include "libclang/api.h"
#include "walk/file_filter.h"

namespace astsieve_cindex {

struct Skipped {
  std::uint32_t file;  // as `files` numbers it, then in record order
  std::int64_t first_line;
  std::int64_t last_line;
};

// The skipped ranges of `unit` in the files `filter` accepts, in libclang's
// order.
std::vector<Skipped> skipped_ranges(astsieve::libclang::TranslationUnit unit,
                                    astsieve::FileFilter& filter, Files& files);

// The skipped ranges as (file, first_line, last_line) in record order, each
// once (a header read twice is skipped twice). Throws PythonError.
PyObject* skipped_list(std::vector<Skipped>& skipped, const FileOrder& order);

}  // namespace astsieve_cindex
