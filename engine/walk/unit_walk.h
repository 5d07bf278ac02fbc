// The walk under the deep queries, for callers that take each accepted node
// as it is reached instead of the grouping (the companion's records).
#pragma once

#include <cstdint>

#include "file_filter.h"

namespace astsieve {

// Takes the accepted nodes of a walk, one by one.
class NodeSink {
 public:
  // `verdict` is Accepted; its path and line are the node's. An exception
  // ends the walk and leaves it.
  virtual void take(const libclang::Cursor& node, const FileVerdict& verdict) = 0;

 protected:
  ~NodeSink() = default;
};

// Hands `sink` every node of the translation unit whose file `filter`
// accepts, in the order get_path_to_lineno_to_nodes lists them within a
// line: top-level declarations last-first, each subtree in depth-first
// pre-order, nodes in rejected files dropped with their whole subtree. A
// handle of 0 hands over nothing.
void walk_unit(std::uint64_t translation_unit, FileFilter& filter, NodeSink& sink);

}  // namespace astsieve
