#include "floor_walk.h"

#include <algorithm>
#include <utility>

namespace astsieve_bench {
namespace {

extern "C" CXChildVisitResult append_child(CXCursor child, CXCursor /*parent*/,
                                           CXClientData stack) {
  static_cast<std::vector<CXCursor>*>(stack)->push_back(child);
  return CXChildVisit_Continue;
}

// Appends the children of `node` to the stack in reverse visiting order, so
// that the first child is popped next; no array of their own.
void push_children(CXCursor node, std::vector<CXCursor>& stack) {
  const auto first = static_cast<std::ptrdiff_t>(stack.size());
  clang_visitChildren(node, append_child, &stack);
  std::reverse(stack.begin() + first, stack.end());
}

FloorCount walk(std::vector<CXCursor>& stack, FloorFilter& filter) {
  FloorCount count;
  while (!stack.empty()) {
    const CXCursor node = stack.back();
    stack.pop_back();
    ++count.visited;
    if (filter.accepts(node)) {
      ++count.accepted;
      push_children(node, stack);
    }
  }
  return count;
}

}  // namespace

FloorFilter::FloorFilter(const std::string& pattern, std::string main_path)
    : main_path_(std::move(main_path)) {
  if (!pattern.empty()) {
    pattern_.emplace(pattern, std::regex::ECMAScript);
  }
}

bool FloorFilter::accepts(CXCursor cursor) {
  CXFile file = nullptr;
  unsigned line = 0;
  clang_getInstantiationLocation(clang_getCursorLocation(cursor), &file, &line, nullptr, nullptr);
  if (file == nullptr) {
    return false;
  }
  CXString name = clang_getFileName(file);
  const char* text = clang_getCString(name);
  const bool verdict = file == last_file_ ? last_verdict_ : decide(file, text);
  clang_disposeString(name);
  return verdict;
}

bool FloorFilter::decide(CXFile file, const char* name) {
  auto found = verdicts_.find(file);
  if (found == verdicts_.end()) {
    const std::string path = name == nullptr ? std::string() : std::string(name);
    const bool accepted = path == main_path_ || (pattern_ && std::regex_match(path, *pattern_));
    found = verdicts_.emplace(file, accepted).first;
  }
  last_file_ = file;
  last_verdict_ = found->second;
  return last_verdict_;
}

FloorCount floor_walk_unit(CXTranslationUnit unit, FloorFilter& filter) {
  std::vector<CXCursor> stack;
  clang_visitChildren(clang_getTranslationUnitCursor(unit), append_child, &stack);
  return walk(stack, filter);
}

FloorCount floor_walk_subtree(CXCursor root, FloorFilter& filter) {
  std::vector<CXCursor> stack{root};
  return walk(stack, filter);
}

FloorCount floor_direct_children(CXCursor parent, FloorFilter& filter) {
  std::vector<CXCursor> children;
  clang_visitChildren(parent, append_child, &children);
  FloorCount count;
  for (const CXCursor& child : children) {
    ++count.visited;
    if (filter.accepts(child)) {
      ++count.accepted;
    }
  }
  return count;
}

}  // namespace astsieve_bench
