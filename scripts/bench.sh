#!/usr/bin/env bash
# Sets up (build/bench/venv), builds the benchmarks (the CMake preset bench)
# and runs them:
#  1. build/bench/bench/astsieve_walk_bench: the engine's native walk against
#     libclang's floor on a unit including <llvm/IR/IRBuilder.h>;
#  2. bench/run.py: astsieve's three Python functions and the companion's
#     queries against the pure-Python clang.cindex walk, the native engine and
#     the floor, on four units; it prints the tables and writes the chart
#     docs/walks.png, which README.md shows.
#  3. bench/per_call.py: many small calls, one get_path_to_nodes per cursor
#     of IRBuilder.h, per path pattern, against clang.cindex.
# Arguments are passed on to bench/run.py; with -h or --help only its options
# are shown, after the set-up, and nothing runs.
source "$(dirname "$0")/lib.sh"

help=false
for argument; do
  case "$argument" in -h|--help) help=true ;; esac
done

install_test_packages
# The benchmarks' floor links Debian's libclang of deps/llvm-major, so their
# Python side runs in an environment of its own with the bindings of that
# major (.venv has the libclang wheel's).
venv=build/bench/venv
make_venv "$venv"
pip=(venv_pip "$venv")
"${pip[@]}" install -q -r bench/requirements.txt ".[clang${llvm_major}]"
llvm_config=/usr/lib/llvm-${llvm_major}/bin/llvm-config
if $help; then
  print_header
  echo
  exec "$venv/bin/python" bench/run.py --help
fi

cmake --preset bench >/dev/null
cmake --build --preset bench -j2

build/bench/bench/astsieve_walk_bench
echo
"$venv/bin/python" bench/run.py --probe build/bench/bench/libastsieve_walk_probe.so \
  --llvm-config "$llvm_config" "$@"
echo
"$venv/bin/python" bench/per_call.py --llvm-config "$llvm_config"
