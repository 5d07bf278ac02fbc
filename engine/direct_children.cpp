// The shallow query: one level below the given cursor, grouped by file.
#include <utility>

#include "file_filter.h"
#include "grouping.h"

namespace astsieve {

PathToNodes get_path_to_nodes(CursorTuple cursor, std::string path_pattern, std::string main_path) {
  FileFilter filter(path_pattern, std::move(main_path));
  PathToNodes result;
  for (const CXCursor& child : collect_children(from_cursor_tuple(cursor))) {
    FileVerdict verdict = filter.classify(child);
    if (verdict.kind == FileVerdict::Accepted) {
      result[std::move(verdict.path)].push_back(to_cursor_tuple(child));
    }
  }
  return result;
}

}  // namespace astsieve
