# Path matcher against std::regex_match: build/bench/bench/pattern_bench
find_package(benchmark REQUIRED)
add_executable(pattern_bench "${CMAKE_CURRENT_LIST_DIR}/pattern_bench.cpp")
target_link_libraries(pattern_bench PRIVATE astsieve_pattern benchmark::benchmark)
