// The three queries: which cursors lie in which accepted file, and on which
// line.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "cursor.h"

namespace astsieve {

using NodeList = std::vector<CursorTuple>;
using LinenoToNodes = std::unordered_map<std::int64_t, NodeList>;
using PathToLinenoToNodes = std::unordered_map<std::string, LinenoToNodes>;
using PathToNodes = std::unordered_map<std::string, NodeList>;

// Every node of the translation unit whose file is accepted, grouped by file
// and line. Top-level declarations are taken last-first, each subtree in
// depth-first pre-order; nodes in rejected files are dropped with their whole
// subtree. A handle of 0 gives an empty result.
PathToLinenoToNodes get_path_to_lineno_to_nodes(std::uint64_t translation_unit,
                                                std::string path_pattern, std::string main_path);

// The same for the subtree of one cursor, the cursor itself included, in
// depth-first pre-order.
PathToLinenoToNodes update_path_lineno(CursorTuple cursor, std::string path_pattern,
                                       std::string main_path);

// The direct children of one cursor whose file is accepted, grouped by file,
// in visiting order.
PathToNodes get_path_to_nodes(CursorTuple cursor, std::string path_pattern, std::string main_path);

}  // namespace astsieve
