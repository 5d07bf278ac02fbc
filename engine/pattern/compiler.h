// Compiles an ECMAScript pattern into a Program, iteratively, following the
// standard library's grammar and automaton construction. Byte classes are
// taken from std::regex_traits<char> under the global locale of the moment.
#pragma once

#include <string>

#include "program.h"

namespace astsieve {
namespace pattern {

// With `keep_captures` false the capture bookkeeping of a pattern without
// back-references is left out, since nothing could observe it. Throws
// std::regex_error for what the standard library rejects as well.
Program compile_pattern(const std::string& pattern, bool keep_captures = false);

}  // namespace pattern
}  // namespace astsieve
