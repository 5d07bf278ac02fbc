#!/usr/bin/env bash
# Sets up (build/bench/venv), builds the benchmarks and runs them:
#  1. build/bench/bench/astsieve_walk_bench: the engine's native walk against
#     libclang's floor on a unit including <llvm/IR/IRBuilder.h>;
#  2. bench/run.py: astsieve's three Python functions and the companion's
#     queries against the pure-Python clang.cindex walk, the native engine and
#     the floor, on four units; it prints the tables and writes the chart
#     docs/walks.png, which README.md shows.
#  3. bench/per_call.py: many small calls, one get_path_to_nodes per cursor
#     of IRBuilder.h, per path pattern, against clang.cindex.
# Arguments are passed on to bench/run.py (see --help).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install_test_packages.sh
# The benchmarks' floor links Debian's libclang of deps/llvm-major, so their
# Python side runs in an environment of its own with the bindings of that
# major (.venv has the libclang wheel's).
llvm_major=$(cat deps/llvm-major)
venv=build/bench/venv
if [ ! -x "$venv/bin/python" ]; then
  "${PYTHON:-python3}" -m venv "$venv"
fi
pip=("$venv/bin/python" -m pip --disable-pip-version-check)
"${pip[@]}" install -q -r deps/requirements-pip.txt
"${pip[@]}" install -q -r bench/requirements.txt ".[clang${llvm_major}]"

cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DASTSIEVE_BUILD_MODULE=OFF -DASTSIEVE_BUILD_TESTS=OFF -DASTSIEVE_BUILD_BENCH=ON >/dev/null
cmake --build build/bench -j2

build/bench/bench/astsieve_walk_bench
echo
"$venv/bin/python" bench/run.py --probe build/bench/bench/libastsieve_walk_probe.so \
  --llvm-config "/usr/lib/llvm-${llvm_major}/bin/llvm-config" "$@"
echo
"$venv/bin/python" bench/per_call.py --llvm-config "/usr/lib/llvm-${llvm_major}/bin/llvm-config"
