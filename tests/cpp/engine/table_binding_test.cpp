// bind_table, by which the engine and the companion's helper bind their
// tables of libclang functions: each slot gets the address found for its
// own symbol, and a symbol not found fails the binding by name.
#include <gtest/gtest.h>

#include <map>
#include <stdexcept>
#include <string>

#include "libclang/table.h"

namespace astsieve::libclang {
namespace {

TEST(BindTable, FillsEachSlotWithItsOwnSymbolOrNamesTheFirstOneMissing) {
  static char places[16];
  std::map<std::string, void*> found;
  const Functions table = bind_table<Functions>("libclang.so", [&found](const char* name) {
    void* address = &places[found.size()];
    found.emplace(name, address);
    return address;
  });
  Functions copy = table;
  std::size_t slots = 0;
  for_each_function(copy, [&found, &slots](const char* name, auto& slot) {
    EXPECT_EQ(reinterpret_cast<void*>(slot), found.at(name)) << name;
    ++slots;
  });
  EXPECT_EQ(slots, found.size());

  try {
    bind_table<Functions>("/lib/libclang.so.18", [](const char* name) -> void* {
      return std::string(name) == "clang_getFileName" ? nullptr : &places[0];
    });
    ADD_FAILURE() << "bound a table without clang_getFileName";
  } catch (const std::runtime_error& error) {
    EXPECT_STREQ(error.what(), "the libclang file /lib/libclang.so.18 has no clang_getFileName");
  }
}

}  // namespace
}  // namespace astsieve::libclang
