#!/usr/bin/env bash
# Sets up (scripts/setup.sh), builds the benchmarks and runs them:
#  1. build/bench/bench/astsieve_walk_bench: the engine's native walk against
#     libclang's floor on a unit including <llvm/IR/IRBuilder.h>;
#  2. bench/run.py: astsieve's three Python functions against the pure-Python
#     clang.cindex walk, the native engine and the floor, on four units; it
#     prints the table and writes the chart build/bench/walks.png;
#  3. bench/per_call.py: many small calls, one get_path_to_nodes per cursor
#     of IRBuilder.h, per path pattern, against clang.cindex.
# Arguments are passed on to bench/run.py (see --help).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
.venv/bin/python -m pip install -q --disable-pip-version-check -r bench/requirements.txt

cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DASTSIEVE_BUILD_MODULE=OFF -DASTSIEVE_BUILD_TESTS=OFF -DASTSIEVE_BUILD_BENCH=ON >/dev/null
cmake --build build/bench -j2

build/bench/bench/astsieve_walk_bench
echo
llvm_config="/usr/lib/llvm-$(cat deps/llvm-major)/bin/llvm-config"
.venv/bin/python bench/run.py --probe build/bench/bench/libastsieve_walk_probe.so \
  --llvm-config "$llvm_config" "$@"
echo
.venv/bin/python bench/per_call.py --llvm-config "$llvm_config"
