#!/usr/bin/env bash
# Fuzzes the module's Python surface (fuzz/surface_fuzz.py) with atheris for
# SECONDS (default 600) against a build of the module made with clang,
# AddressSanitizer, UndefinedBehaviorSanitizer and libFuzzer's coverage
# instrumentation (the CMake preset fuzz-surface, build/fuzz-surface), so that
# the fuzzer is guided by the engine's and the matcher's native code. The
# corpus grows in build/fuzz-surface/corpus; a finding is written to
# build/fuzz-surface/crash-* and ends the run with a non-zero status. Extra
# arguments go to libFuzzer; crash files given there are replayed instead of
# fuzzing (scripts/fuzz_surface.sh 0 build/fuzz-surface/crash-...).
source "$(dirname "$0")/lib.sh"

seconds=${1:-600}
shift || true
build_dir=build/fuzz-surface

install_test_packages
scripts/setup.sh
venv_pip .venv install -q -r deps/requirements-fuzz.txt
scripts/build_module.sh fuzz-surface

# atheris ships an ASan runtime with libFuzzer inside.
atheris_dir=$(.venv/bin/python -c 'import atheris; print(atheris.path())')
sanitizer_env "$atheris_dir/asan_with_fuzzer.so" allocator_may_return_null=1
use_module_build fuzz-surface

inputs=("$@")
if [ ${#inputs[@]} -eq 0 ]; then
  mkdir -p "$build_dir/corpus"
  inputs=(-max_total_time="$seconds" -print_final_stats=1 "$build_dir/corpus")
fi
.venv/bin/python fuzz/surface_fuzz.py -timeout=30 -rss_limit_mb=4096 -artifact_prefix="$build_dir/" \
  "${inputs[@]}"
