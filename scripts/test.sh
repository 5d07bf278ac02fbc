#!/usr/bin/env bash
# Installs the Debian packages of the C++ suite (scripts/install_test_packages.sh),
# sets up (scripts/setup.sh), checks the C++ formatting (scripts/format.sh),
# then runs every test: the C++ suite through CTest, two cells of the wheel
# matrix (scripts/matrix.sh) and the Python suite through pytest, against the
# libclang wheel in .venv. Pass --sanitize to run the C++ suite built with
# AddressSanitizer and UndefinedBehaviorSanitizer instead.
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=build/tests
cmake_args=()
if [ "${1:-}" = "--sanitize" ]; then
  build_dir=build/sanitize
  cmake_args+=(-DASTSIEVE_SANITIZE=ON)
fi

scripts/install_test_packages.sh
scripts/setup.sh
scripts/format.sh --check

cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DASTSIEVE_BUILD_MODULE=OFF -DASTSIEVE_BUILD_TESTS=ON "${cmake_args[@]}" >/dev/null
cmake --build "$build_dir"
# Both runners print their summaries; a suite that finds no test fails.
ctest --test-dir "$build_dir" --output-on-failure --no-tests=error -j "$(nproc)"

# The repaired wheel in fresh venvs, beside the PyPI libclang wheel and beside
# a Debian LLVM of another major (scripts/matrix.sh runs every cell).
scripts/matrix.sh --python 3.11 --source libclang-18,debian-19

# pytest exits 5 when it collected no test, which set -e turns into a failure.
.venv/bin/python -m pytest -q tests/python
