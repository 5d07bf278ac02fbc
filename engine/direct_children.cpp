// The shallow query: one level below the given cursor, grouped by file.
#include <utility>

#include "file_filter.h"
#include "grouping.h"
#include "last_entry.h"

namespace astsieve {

PathToNodes get_path_to_nodes(CursorTuple cursor, std::string path_pattern, std::string main_path) {
  FileFilter filter(path_pattern, std::move(main_path));
  PathToNodes result;
  FileVerdict verdict;
  LastEntry<PathToNodes> last_path;
  libclang::functions_for_query();
  for (const libclang::Cursor& child : collect_children(from_cursor_tuple(cursor))) {
    filter.classify(child, verdict);
    if (verdict.kind == FileVerdict::Accepted) {
      last_path.get(result, verdict.path).push_back(to_cursor_tuple(child));
    }
  }
  return result;
}

}  // namespace astsieve
