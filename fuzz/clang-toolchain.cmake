# The clang of deps/llvm-major, for the builds that need clang (the presets
# fuzz and fuzz-surface of CMakePresets.json): libFuzzer comes with it.
file(STRINGS "${CMAKE_CURRENT_LIST_DIR}/../deps/llvm-major" astsieve_clang_major LIMIT_COUNT 1)
set(CMAKE_CXX_COMPILER "clang++-${astsieve_clang_major}")
