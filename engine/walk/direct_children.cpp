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
  const std::vector<libclang::Cursor> children = collect_children(from_cursor_tuple(cursor));
  for (std::size_t i = 0; i < children.size(); ++i) {
    filter.classify(children[i], verdict);
    if (verdict.kind == FileVerdict::Accepted) {
      // The path moves into the result when it is new there; the next
      // child's name then goes into a fresh buffer.
      NodeList& nodes = last_path.get(result, std::move(verdict.path));
      // The children mostly share one file: the first file's list gets room
      // for all that are left, instead of growing in steps.
      if (nodes.empty() && result.size() == 1) {
        nodes.reserve(children.size() - i);
      }
      nodes.push_back(to_cursor_tuple(children[i]));
    }
  }
  return result;
}

}  // namespace astsieve
