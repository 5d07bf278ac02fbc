#!/usr/bin/env bash
# Fuzzes the path matcher against std::regex with libFuzzer (clang, with
# AddressSanitizer and UndefinedBehaviorSanitizer; the CMake preset fuzz) for
# the given number of seconds (default 300):
#   scripts/fuzz_pattern.sh 600
# Further arguments go to libFuzzer (for example -jobs=2 -workers=2). The
# corpus grows in build/fuzz/corpus; a disagreement stops the run, prints
# the pattern and subject, and leaves the input in build/fuzz/crash-*.
source "$(dirname "$0")/lib.sh"

seconds=${1:-300}
shift || true
build_dir=build/fuzz

install_test_packages
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
mkdir -p "$build_dir/corpus"
exec "$build_dir/fuzz/pattern_fuzz" "$build_dir/corpus" -dict=fuzz/pattern.dict \
  -max_len=160 -timeout=20 -rss_limit_mb=4096 -max_total_time="$seconds" \
  -artifact_prefix="$build_dir/" -print_final_stats=1 "$@"
