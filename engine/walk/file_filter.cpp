#include "file_filter.h"

#include <cstring>
#include <utility>

#include "libclang/owned_string.h"

namespace astsieve {
namespace {

// Copies libclang's file name into `path`; libclang's string is disposed of
// as soon as the copy exists (or has failed). A name without text counts as
// no name.
bool copy_file_name(const libclang::Functions& api, libclang::File file, std::string& path) {
  const libclang::OwnedString name(api, api.getFileName(file));
  const char* text = name.c_str();
  if (text == nullptr) {
    return false;
  }
  // Sized copy into the reused buffer: cheaper than assign(), which must
  // allow for the source overlapping the string.
  const std::size_t length = std::strlen(text);
  path.resize(length);
  std::memcpy(path.data(), text, length);
  return true;
}

}  // namespace

FileFilter::FileFilter(const std::string& pattern, std::string main_path)
    : main_path_(std::move(main_path)) {
  if (!pattern.empty()) {
    pattern_.emplace(pattern);
  }
}

void FileFilter::classify(const libclang::Cursor& cursor, FileVerdict& verdict) {
  classify(libclang::functions().getCursorLocation(cursor), verdict);
}

void FileFilter::classify(const libclang::SourceLocation& location, FileVerdict& verdict) {
  const libclang::Functions& api = libclang::functions();
  libclang::File file = nullptr;
  unsigned line = 0;
  unsigned column = 0;
  api.getInstantiationLocation(location, &file, &line, &column, nullptr);
  verdict.line = 0;
  verdict.column = column;
  if (file == nullptr || !copy_file_name(api, file, verdict.path)) {
    verdict.kind = FileVerdict::NoFile;
    return;
  }
  const std::string& path = verdict.path;
  // The main path is never among the rejected ones, so comparing it first
  // gives the same verdicts and spares the main file's nodes a hash lookup.
  if (path == main_path_) {
    verdict.kind = FileVerdict::Accepted;
    verdict.line = static_cast<std::int64_t>(line);
    return;
  }
  if (rejected_.count(path) != 0) {
    verdict.kind = FileVerdict::Rejected;
    return;
  }
  if (pattern_ && pattern_->full_match(path)) {
    verdict.kind = FileVerdict::Accepted;
    verdict.line = static_cast<std::int64_t>(line);
    return;
  }
  rejected_.insert(path);
  verdict.kind = FileVerdict::Rejected;
}

}  // namespace astsieve
