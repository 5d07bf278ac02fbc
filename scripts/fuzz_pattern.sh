#!/usr/bin/env bash
# Fuzzes the path matcher against std::regex with libFuzzer (clang, with
# AddressSanitizer and UndefinedBehaviorSanitizer) for the given number of
# seconds (default 300):
#   scripts/fuzz_pattern.sh 600
# Further arguments go to libFuzzer (for example -jobs=2 -workers=2). The
# corpus grows in build/fuzz/corpus; a disagreement stops the run, prints
# the pattern and subject, and leaves the input in build/fuzz/crash-*.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-300}
shift || true
llvm_major=$(cat deps/llvm-major)
build_dir=build/fuzz

cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER="clang++-${llvm_major}" -DASTSIEVE_BUILD_FUZZ=ON \
  -DASTSIEVE_BUILD_MODULE=OFF -DASTSIEVE_BUILD_TESTS=OFF >/dev/null
cmake --build "$build_dir" --target pattern_fuzz
mkdir -p "$build_dir/corpus"
exec "$build_dir/fuzz/pattern_fuzz" "$build_dir/corpus" -dict=fuzz/pattern.dict \
  -max_len=160 -timeout=20 -rss_limit_mb=4096 -max_total_time="$seconds" \
  -artifact_prefix="$build_dir/" -print_final_stats=1 "$@"
