// The deep queries: an iterative walk with an explicit last-in, first-out
// stack, so tree depth is bounded by memory rather than the native stack.
#include <utility>

#include "file_filter.h"
#include "grouping.h"

namespace astsieve {
namespace {

// Pops nodes until the stack is empty. An accepted node is appended under its
// file and line, then its children are pushed so that the first child is
// popped next. Dropped nodes are never expanded.
void walk(std::vector<CXCursor>& stack, FileFilter& filter, PathToLinenoToNodes& result) {
  while (!stack.empty()) {
    const CXCursor node = stack.back();
    stack.pop_back();
    FileVerdict verdict = filter.classify(node);
    if (verdict.kind != FileVerdict::Accepted) {
      continue;
    }
    result[std::move(verdict.path)][verdict.line].push_back(to_cursor_tuple(node));
    const std::vector<CXCursor> children = collect_children(node);
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
  const auto unit =
      reinterpret_cast<CXTranslationUnit>(static_cast<std::uintptr_t>(translation_unit));
  // Top-level children are pushed in visiting order, so the last is walked
  // first.
  std::vector<CXCursor> stack = collect_children(clang_getTranslationUnitCursor(unit));
  walk(stack, filter, result);
  return result;
}

PathToLinenoToNodes update_path_lineno(CursorTuple cursor, std::string path_pattern,
                                       std::string main_path) {
  FileFilter filter(path_pattern, std::move(main_path));
  PathToLinenoToNodes result;
  std::vector<CXCursor> stack{from_cursor_tuple(cursor)};
  walk(stack, filter, result);
  return result;
}

}  // namespace astsieve
