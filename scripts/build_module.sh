#!/usr/bin/env bash
# Builds the extension module outside pip into BUILD_DIR and lays it out,
# together with the astsieve_cindex package, in BUILD_DIR/site, a directory
# to put first on PYTHONPATH. Extra arguments go to CMake, e.g.
#   scripts/build_module.sh build/python-sanitize -DASTSIEVE_SANITIZE=ON
# Needs scripts/setup.sh to have run (pybind11 comes from .venv).
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=$1
shift
site="$build_dir/site"

cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DASTSIEVE_BUILD_MODULE=ON -DASTSIEVE_BUILD_TESTS=OFF \
  -DPython_EXECUTABLE="$PWD/.venv/bin/python" \
  -Dpybind11_DIR="$(.venv/bin/python -m pybind11 --cmakedir)" "$@" >/dev/null
cmake --build "$build_dir" -j2
rm -rf "$site"
cmake --install "$build_dir" --prefix "$site" >/dev/null
cp -r python/astsieve_cindex/. "$site/astsieve_cindex/"
find "$site" -name __pycache__ -prune -exec rm -rf {} +
