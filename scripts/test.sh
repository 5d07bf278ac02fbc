#!/usr/bin/env bash
# Installs the Debian packages of the C++ suite (scripts/install_test_packages.sh),
# sets up (scripts/setup.sh), checks the C++ formatting (scripts/format.sh),
# then runs every test: the C++ suite through CTest, two cells of the wheel
# matrix (scripts/matrix.sh) and the Python suite through pytest, against the
# libclang wheel in .venv. Pass --sanitize to run the C++ suite built with
# AddressSanitizer and UndefinedBehaviorSanitizer instead (the CMake preset
# sanitize rather than tests).
source "$(dirname "$0")/lib.sh"

preset=tests
case "${1:-}" in
  "") ;;
  --sanitize) preset=sanitize ;;
  *) echo "test: unknown argument $1 (only --sanitize)" >&2; exit 2 ;;
esac

install_test_packages
scripts/setup.sh
scripts/format.sh --check

cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"
# Both runners print their summaries; a suite that finds no test fails (the
# test preset's noTestsAction, and pytest's exit 5 under set -e).
ctest --preset "$preset" -j "$(nproc)"

# The repaired wheel in fresh venvs, beside the PyPI libclang wheel and beside
# a Debian LLVM of another major (scripts/matrix.sh runs every cell).
scripts/matrix.sh --python 3.11 --source libclang-18,debian-19

.venv/bin/python -m pytest -q tests/python
