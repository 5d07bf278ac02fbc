#!/usr/bin/env bash
# Builds astsieve into a virtual environment, .venv, without root: a pinned
# pip (deps/requirements-pip.txt), the pinned tools of
# deps/requirements-dev.txt, and astsieve itself with the PyPI libclang wheel
# (`pip install '.[libclang,parquet,dask]'`). Needs Python 3 with its venv
# module and C headers, and a C++17 compiler; CMake and Ninja come from PyPI
# when the machine has none. Safe to run again: it installs only what is
# missing and rebuilds astsieve.
source "$(dirname "$0")/lib.sh"

python=${PYTHON:-python3}
headers=$("$python" -c 'import sysconfig; print(sysconfig.get_paths()["include"])')
if [ ! -f "$headers/Python.h" ]; then
  echo "setup: $python has no C headers ($headers/Python.h); on Debian: apt-get install python3-dev" >&2
  exit 1
fi
if ! command -v "${CXX:-c++}" >/dev/null; then
  echo "setup: no C++ compiler (${CXX:-c++}); on Debian: apt-get install g++" >&2
  exit 1
fi
make_venv .venv "$python"
pip=(venv_pip .venv)
"${pip[@]}" install -q -r deps/requirements-dev.txt
# clang and libclang-ng write the same clang/cindex.py as libclang: only one
# set of bindings may be installed.
"${pip[@]}" uninstall -qq -y clang libclang-ng
"${pip[@]}" install -q ".[libclang,parquet,dask]"
