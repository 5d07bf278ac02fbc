// What every platform's lookup of the loaded libclang shares: its entry
// points, the functions it binds and its failures.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "api.h"

namespace astsieve::libclang {

// Implemented once per platform (lookup_<platform>.cpp).
//
// Binds a table to the one libclang file loaded in the process and keeps
// that file loaded for the rest of the process. Throws std::runtime_error
// when none is loaded, or when two different files are.
Functions find_loaded();
// A number that changes whenever the process loads another object, so that a
// libclang loaded after binding is noticed.
std::uint64_t loaded_objects_generation() noexcept;
// The address of the function `symbol` in the libclang file that
// find_loaded() has bound, for tables beyond the engine's (table.h);
// nullptr when that file lacks it or none is bound yet.
void* find_in_bound(const char* symbol) noexcept;
// The real paths of the libclang files loaded in the process, sorted, each
// once: the files that define libclang's functions themselves.
std::vector<std::string> loaded_libclang_files();
// The real path of the loaded file whose code or data holds `address`; empty
// when none does.
std::string file_defining(const void* address);

inline std::runtime_error none_loaded_error() {
  return std::runtime_error(
      "astsieve found no libclang loaded in this process: load libclang first, e.g. through "
      "clang.cindex, and pass astsieve the handles and cursors it makes");
}

inline std::runtime_error two_files_error(const std::string& first, const std::string& second) {
  return std::runtime_error("astsieve found two different libclang files loaded in this process, " +
                            first + " and " + second +
                            ": handles and cursors of one mean nothing to the other, so load only "
                            "one of them");
}

// The real path of the libclang file loaded in the process that holds
// `address` (a libclang function, as a caller sees it), when it is the only
// libclang file loaded; empty when no loaded libclang file holds it. Throws
// two_files_error when two different files are loaded.
inline std::string sole_libclang_file_holding(const void* address) {
  const std::vector<std::string> files = loaded_libclang_files();
  if (files.size() > 1) {
    throw two_files_error(files[0], files[1]);
  }
  std::string file = file_defining(address);
  return !files.empty() && file == files.front() ? file : std::string();
}

inline std::runtime_error missing_function_error(const std::string& file, const char* function) {
  return std::runtime_error("the libclang file " + file + " has no " + function);
}

}  // namespace astsieve::libclang
