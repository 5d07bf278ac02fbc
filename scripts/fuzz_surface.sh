#!/usr/bin/env bash
# Fuzzes the module's Python surface (fuzz/surface_fuzz.py) with atheris for
# SECONDS (default 600) against a build of the module made with clang,
# AddressSanitizer, UndefinedBehaviorSanitizer and libFuzzer's coverage
# instrumentation (build/fuzz-surface), so that the fuzzer is guided by the
# engine's and the matcher's native code. The corpus grows in
# build/fuzz-surface/corpus; a finding is written to
# build/fuzz-surface/crash-* and ends the run with a non-zero status. Extra
# arguments go to libFuzzer; crash files given there are replayed instead of
# fuzzing (scripts/fuzz_surface.sh 0 build/fuzz-surface/crash-...).
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-600}
shift || true

scripts/install_test_packages.sh
scripts/setup.sh
.venv/bin/python -m pip install -q --disable-pip-version-check -r deps/requirements-fuzz.txt
build_dir=build/fuzz-surface
llvm_major=$(cat deps/llvm-major)
# Without the vptr and function-type checks, whose runtime parts atheris's
# ASan runtime lacks (the module defines no virtual functions and calls no
# function through a pointer of another type).
scripts/build_module.sh "$build_dir" -DCMAKE_CXX_COMPILER="clang++-$llvm_major" \
  -DCMAKE_CXX_FLAGS="-fsanitize=address,undefined,fuzzer-no-link -fno-sanitize=vptr,function -fno-sanitize-recover=all -fno-omit-frame-pointer"

# atheris ships an ASan runtime with libFuzzer inside; the C++ library is
# preloaded with it so that ASan finds the library's __cxa_throw.
atheris_dir=$(.venv/bin/python -c 'import atheris; print(atheris.path())')
export LD_PRELOAD="$atheris_dir/asan_with_fuzzer.so $(g++ -print-file-name=libstdc++.so)"
export ASAN_OPTIONS=detect_leaks=0:allocator_may_return_null=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export PYTHONPATH="$PWD/$build_dir/site${PYTHONPATH:+:$PYTHONPATH}"

inputs=("$@")
if [ ${#inputs[@]} -eq 0 ]; then
  mkdir -p "$build_dir/corpus"
  inputs=(-max_total_time="$seconds" -print_final_stats=1 "$build_dir/corpus")
fi
.venv/bin/python fuzz/surface_fuzz.py -timeout=30 -rss_limit_mb=4096 -artifact_prefix="$build_dir/" \
  "${inputs[@]}"
