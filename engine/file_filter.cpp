#include "file_filter.h"

#include <utility>

namespace astsieve {
namespace {

// Copies libclang's file name; libclang's string is disposed of as soon as
// the copy exists (or has failed). A name without text counts as no name.
std::optional<std::string> file_name(CXFile file) {
  struct Disposer {
    CXString string;
    ~Disposer() { clang_disposeString(string); }
  } name{clang_getFileName(file)};
  const char* text = clang_getCString(name.string);
  if (text == nullptr) {
    return std::nullopt;
  }
  return std::string(text);
}

}  // namespace

FileFilter::FileFilter(const std::string& pattern, std::string main_path)
    : main_path_(std::move(main_path)) {
  if (!pattern.empty()) {
    pattern_.emplace(pattern);
  }
}

FileVerdict FileFilter::classify(const CXCursor& cursor) {
  CXSourceLocation location = clang_getCursorLocation(cursor);
  CXFile file = nullptr;
  unsigned line = 0;
  clang_getInstantiationLocation(location, &file, &line, nullptr, nullptr);
  if (file == nullptr) {
    return {};
  }
  std::optional<std::string> path = file_name(file);
  if (!path) {
    return {};
  }
  if (rejected_.count(*path) != 0) {
    return {FileVerdict::Rejected, {}, 0};
  }
  if (*path == main_path_ || (pattern_ && pattern_->full_match(*path))) {
    return {FileVerdict::Accepted, std::move(*path), static_cast<std::int64_t>(line)};
  }
  rejected_.insert(std::move(*path));
  return {FileVerdict::Rejected, {}, 0};
}

}  // namespace astsieve
