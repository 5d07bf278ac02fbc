// The floor of a walk: the same nodes visited as the engine's walks, with
// nothing but libclang's own calls per node (cursor location, expansion
// location, file name text and its disposal, and one children visit per
// accepted node). No grouping, no result, no string copies: what is left of
// a walk once everything the engine adds has been taken away.
#pragma once

#include <clang-c/Index.h>

#include <cstdint>
#include <optional>
#include <regex>
#include <string>
#include <unordered_map>
#include <vector>

namespace astsieve_bench {

struct FloorCount {
  std::uint64_t visited = 0;   // nodes whose file was looked up
  std::uint64_t accepted = 0;  // nodes in an accepted file
};

// Decides acceptance once per libclang file handle, so that the per-node
// cost is a pointer comparison: the floor pays libclang's calls, not the
// engine's file test. Timed walks reuse a filter that an untimed walk of
// the same unit has already taught every file's verdict.
class FloorFilter {
 public:
  FloorFilter(const std::string& pattern, std::string main_path);
  // Looks up the node's expansion file (the engine's libclang calls) and
  // says whether that file is accepted.
  bool accepts(CXCursor cursor);

 private:
  bool decide(CXFile file, const char* name);

  std::optional<std::regex> pattern_;
  std::string main_path_;
  CXFile last_file_ = nullptr;
  bool last_verdict_ = false;
  std::unordered_map<CXFile, bool> verdicts_;
};

// The walk of get_path_to_lineno_to_nodes: top-level children last-first,
// then depth-first pre-order below every accepted node.
FloorCount floor_walk_unit(CXTranslationUnit unit, FloorFilter& filter);

// The walk of update_path_lineno: the subtree of `root`, root included.
FloorCount floor_walk_subtree(CXCursor root, FloorFilter& filter);

// The walk of get_path_to_nodes: the direct children of `parent` only.
FloorCount floor_direct_children(CXCursor parent, FloorFilter& filter);

}  // namespace astsieve_bench
