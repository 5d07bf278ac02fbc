#!/usr/bin/env bash
# Builds the extension module outside pip with a module preset of
# CMakePresets.json (python-sanitize, fuzz-surface, valgrind) into
# build/PRESET and lays it out, together with the astsieve_cindex package, in
# build/PRESET/site, a directory to put first on PYTHONPATH (lib.sh's
# use_module_build). Extra arguments go to CMake, e.g.
#   scripts/build_module.sh valgrind -DCMAKE_BUILD_TYPE=Debug
# Needs scripts/setup.sh to have run (Python and pybind11 come from .venv).
source "$(dirname "$0")/lib.sh"

if [ $# -lt 1 ]; then
  echo "build-module: usage: scripts/build_module.sh PRESET [CMAKE_ARG...]" >&2
  exit 2
fi
preset=$1
shift
if [ ! -x .venv/bin/python ]; then
  echo "build-module: no .venv: run scripts/setup.sh first" >&2
  exit 1
fi
build_dir=build/$preset
site=$build_dir/site

cmake --preset "$preset" "$@" >/dev/null
cmake --build --preset "$preset" -j2
rm -rf "$site"
cmake --install "$build_dir" --prefix "$site" >/dev/null
cp -r python/astsieve_cindex/. "$site/astsieve_cindex/"
find "$site" -name __pycache__ -prune -exec rm -rf {} +
