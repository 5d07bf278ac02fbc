// Decides, per cursor, in which file and on which line it lies and whether
// that file is accepted in the current call.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_set>

#include "libclang/api.h"
#include "pattern/path_pattern.h"

namespace astsieve {

struct FileVerdict {
  enum Kind { NoFile, Rejected, Accepted };
  Kind kind = NoFile;
  std::string path;       // the file name as libclang reports it (Accepted only)
  std::int64_t line = 0;  // expansion line, zero-extended (Accepted only)
  unsigned column = 0;    // expansion column (Accepted only)
};

class FileFilter {
 public:
  // An empty pattern means "no pattern"; a non-empty one is compiled here and
  // throws std::regex_error when invalid.
  FileFilter(const std::string& pattern, std::string main_path);

  // Accepted when the node's expansion file is the main path (byte for
  // byte) or fully matches the pattern. Paths that fail are remembered for
  // the rest of the call. Throws std::regex_error when a match runs out of
  // budget. The verdict is written into `verdict`, whose path keeps its
  // capacity from one node to the next, so a walk that classifies every node
  // into one verdict copies each file name into the same buffer. The path is
  // meaningful only when the verdict is Accepted.
  void classify(const libclang::Cursor& cursor, FileVerdict& verdict);
  // The same for a position that is no cursor's (a range the preprocessor
  // skipped).
  void classify(const libclang::SourceLocation& location, FileVerdict& verdict);

 private:
  std::optional<PathPattern> pattern_;
  std::string main_path_;
  std::unordered_set<std::string> rejected_;
};

}  // namespace astsieve
