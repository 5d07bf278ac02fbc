// How a table of libclang functions is declared and bound, the engine's
// (api.h) and any other: a struct of function pointers, each named as in
// libclang without the "clang_" prefix, inside `extern "C"`, and beside it
// an overload of
//
//   template <typename Bind> void for_each_function(Table& table, Bind&& bind);
//
// that calls bind("clang_<name>", table.<name>) for each of them. The
// engine's lookup binds its own table with bind_table(); a table of further
// functions is bound with bound_table(), from the file the engine bound.
#pragma once

#include <string>
#include <type_traits>

#include "api.h"
#include "lookup.h"

namespace astsieve::libclang {

// A table whose every function `find(symbol_name)` gives. Throws
// missing_function_error, naming the libclang file `file`, for the first
// one it does not.
template <typename Table, typename Find>
Table bind_table(const std::string& file, Find&& find) {
  Table table{};
  for_each_function(table, [&file, &find](const char* name, auto& slot) {
    void* symbol = find(name);
    if (symbol == nullptr) {
      throw missing_function_error(file, name);
    }
    slot = reinterpret_cast<std::remove_reference_t<decltype(slot)>>(symbol);
  });
  return table;
}

// `Table` bound from the libclang file of the engine's table, which is
// bound first: on first use, and again after a use that threw. Throws
// std::runtime_error as functions() does, or when that file lacks one of
// the functions.
template <typename Table>
const Table& bound_table() {
  static const Table table = [] {
    functions();  // finds the libclang file, or throws
    return bind_table<Table>("that astsieve bound", find_in_bound);
  }();
  return table;
}

}  // namespace astsieve::libclang
