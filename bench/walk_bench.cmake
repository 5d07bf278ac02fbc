# Walk benchmarks: the engine's walks against libclang's own cost of the same
# walk (the floor), natively and, through the probe library, from Python.
find_program(ASTSIEVE_LLVM_CONFIG llvm-config PATHS "${ASTSIEVE_LLVM_ROOT}/bin" NO_DEFAULT_PATH
             REQUIRED)
execute_process(COMMAND "${ASTSIEVE_LLVM_CONFIG}" --cxxflags
                OUTPUT_VARIABLE llvm_cxxflags OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
separate_arguments(llvm_cxxflags UNIX_COMMAND "${llvm_cxxflags}")
# Parsing needs the language, the include directories and the macros, not
# code generation flags.
set(ASTSIEVE_BENCH_CXX_ARGS "\"-x\", \"c++\"")
foreach(flag IN LISTS llvm_cxxflags)
  if(flag MATCHES "^-(I|D|std=)")
    string(APPEND ASTSIEVE_BENCH_CXX_ARGS ", \"${flag}\"")
  endif()
endforeach()
set(ASTSIEVE_BENCH_CXX_UNIT "${CMAKE_CURRENT_SOURCE_DIR}/units/irbuilder_user.cpp")
execute_process(COMMAND "${ASTSIEVE_LLVM_CONFIG}" --includedir
                OUTPUT_VARIABLE llvm_includedir OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
set(ASTSIEVE_BENCH_IRBUILDER_H "${llvm_includedir}/llvm/IR/IRBuilder.h")
configure_file(walk_bench_config.h.in "${CMAKE_CURRENT_BINARY_DIR}/walk_bench_config.h" @ONLY)

add_library(astsieve_bench_floor STATIC floor_walk.cpp)
target_include_directories(astsieve_bench_floor PUBLIC "${CMAKE_CURRENT_SOURCE_DIR}")
target_link_libraries(astsieve_bench_floor PUBLIC libclang)

# Native: floor and engine side by side, in one process, on one unit.
add_executable(astsieve_walk_bench walk_bench.cpp heap_counter.cpp)
target_include_directories(astsieve_walk_bench PRIVATE "${CMAKE_CURRENT_BINARY_DIR}")
target_link_libraries(astsieve_walk_bench PRIVATE astsieve_bench_floor astsieve_engine)

# The floor and the native engine walk for bench/run.py, loaded with ctypes
# into the process that holds clang.cindex's translation unit.
add_library(astsieve_walk_probe MODULE walk_probe.cpp)
set_target_properties(astsieve_walk_probe PROPERTIES CXX_VISIBILITY_PRESET hidden
                                                     VISIBILITY_INLINES_HIDDEN ON)
target_link_libraries(astsieve_walk_probe PRIVATE astsieve_bench_floor astsieve_engine)
