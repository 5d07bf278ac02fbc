// The deep queries: an iterative walk with an explicit last-in, first-out
// stack, so tree depth is bounded by memory rather than the native stack.
#include <utility>

#include "file_filter.h"
#include "grouping.h"
#include "last_entry.h"

namespace astsieve {
namespace {

// Lines mostly hold a handful of nodes (a declaration, its type, its
// initialiser, ...): room for that many from the start saves the first
// regrowths of a line's list and the copies of its records they make.
constexpr std::size_t kFirstLineCapacity = 4;

// Pops nodes until the stack is empty. An accepted node is appended under its
// file and line, then its children are pushed so that the first child is
// popped next. Dropped nodes are never expanded. One verdict and one child
// array serve every node.
void walk(std::vector<libclang::Cursor>& stack, FileFilter& filter, PathToLinenoToNodes& result) {
  FileVerdict verdict;
  std::vector<libclang::Cursor> children;
  LastEntry<PathToLinenoToNodes> last_path;
  LastEntry<LinenoToNodes> last_line;  // within `*lines_of_last_path`
  const LinenoToNodes* lines_of_last_path = nullptr;
  while (!stack.empty()) {
    const libclang::Cursor node = stack.back();
    stack.pop_back();
    filter.classify(node, verdict);
    if (verdict.kind != FileVerdict::Accepted) {
      continue;
    }
    LinenoToNodes& lines = last_path.get(result, verdict.path);
    if (&lines != lines_of_last_path) {
      last_line.forget();
      lines_of_last_path = &lines;
    }
    NodeList& nodes = last_line.get(lines, verdict.line);
    if (nodes.capacity() == 0) {
      nodes.reserve(kFirstLineCapacity);
    }
    nodes.push_back(to_cursor_tuple(node));
    collect_children(node, children);
    stack.insert(stack.end(), children.rbegin(), children.rend());
  }
}

}  // namespace

PathToLinenoToNodes get_path_to_lineno_to_nodes(std::uint64_t translation_unit,
                                                std::string path_pattern, std::string main_path) {
  FileFilter filter(path_pattern, std::move(main_path));
  PathToLinenoToNodes result;
  if (translation_unit == 0) {
    return result;
  }
  const libclang::Functions& api = libclang::functions_for_query();
  const auto unit =
      reinterpret_cast<libclang::TranslationUnit>(static_cast<std::uintptr_t>(translation_unit));
  // Top-level children are pushed in visiting order, so the last is walked
  // first.
  std::vector<libclang::Cursor> stack = collect_children(api.getTranslationUnitCursor(unit));
  walk(stack, filter, result);
  return result;
}

PathToLinenoToNodes update_path_lineno(CursorTuple cursor, std::string path_pattern,
                                       std::string main_path) {
  FileFilter filter(path_pattern, std::move(main_path));
  PathToLinenoToNodes result;
  libclang::functions_for_query();
  std::vector<libclang::Cursor> stack{from_cursor_tuple(cursor)};
  walk(stack, filter, result);
  return result;
}

}  // namespace astsieve
