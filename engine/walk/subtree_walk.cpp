// The deep queries: an iterative walk with an explicit last-in, first-out
// stack, so tree depth is bounded by memory rather than the native stack.
#include <utility>

#include "file_filter.h"
#include "grouping.h"
#include "last_entry.h"
#include "unit_walk.h"

namespace astsieve {
namespace {

// Lines mostly hold a handful of nodes (a declaration, its type, its
// initialiser, ...): room for that many from the start saves the first
// regrowths of a line's list and the copies of its records they make.
constexpr std::size_t kFirstLineCapacity = 4;

// Pops nodes until the stack is empty. An accepted node goes to the sink,
// then its children are pushed so that the first child is popped next.
// Dropped nodes are never expanded. One verdict and one child array serve
// every node.
void walk(std::vector<libclang::Cursor>& stack, FileFilter& filter, NodeSink& sink) {
  FileVerdict verdict;
  std::vector<libclang::Cursor> children;
  while (!stack.empty()) {
    const libclang::Cursor node = stack.back();
    stack.pop_back();
    filter.classify(node, verdict);
    if (verdict.kind != FileVerdict::Accepted) {
      continue;
    }
    sink.take(node, verdict);
    collect_children(node, children);
    stack.insert(stack.end(), children.rbegin(), children.rend());
  }
}

// Appends each node under its file and line.
class Grouping final : public NodeSink {
 public:
  explicit Grouping(PathToLinenoToNodes& result) : result_(result) {}

  void take(const libclang::Cursor& node, const FileVerdict& verdict) override {
    LinenoToNodes& lines = last_path_.get(result_, verdict.path);
    if (&lines != lines_of_last_path_) {
      last_line_.forget();
      lines_of_last_path_ = &lines;
    }
    NodeList& nodes = last_line_.get(lines, verdict.line);
    if (nodes.capacity() == 0) {
      nodes.reserve(kFirstLineCapacity);
    }
    nodes.push_back(to_cursor_tuple(node));
  }

 private:
  PathToLinenoToNodes& result_;
  LastEntry<PathToLinenoToNodes> last_path_;
  LastEntry<LinenoToNodes> last_line_;  // within `*lines_of_last_path_`
  const LinenoToNodes* lines_of_last_path_ = nullptr;
};

}  // namespace

void walk_unit(std::uint64_t translation_unit, FileFilter& filter, NodeSink& sink) {
  if (translation_unit == 0) {
    return;
  }
  const libclang::Functions& api = libclang::functions_for_query();
  const auto unit =
      reinterpret_cast<libclang::TranslationUnit>(static_cast<std::uintptr_t>(translation_unit));
  // Top-level children are pushed in visiting order, so the last is walked
  // first.
  std::vector<libclang::Cursor> stack = collect_children(api.getTranslationUnitCursor(unit));
  walk(stack, filter, sink);
}

PathToLinenoToNodes get_path_to_lineno_to_nodes(std::uint64_t translation_unit,
                                                std::string path_pattern, std::string main_path) {
  FileFilter filter(path_pattern, std::move(main_path));
  PathToLinenoToNodes result;
  Grouping grouping(result);
  walk_unit(translation_unit, filter, grouping);
  return result;
}

PathToLinenoToNodes update_path_lineno(CursorTuple cursor, std::string path_pattern,
                                       std::string main_path) {
  FileFilter filter(path_pattern, std::move(main_path));
  PathToLinenoToNodes result;
  libclang::functions_for_query();
  std::vector<libclang::Cursor> stack{from_cursor_tuple(cursor)};
  Grouping grouping(result);
  walk(stack, filter, grouping);
  return result;
}

}  // namespace astsieve
