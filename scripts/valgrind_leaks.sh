#!/usr/bin/env bash
# Runs tests/valgrind/exercise_module.py (all three functions, successful and
# failing calls) under valgrind --leak-check=full against a build of the
# module with debug information (build/valgrind), and fails if valgrind
# reports a definite leak, or any memory error, with a frame in the module.
# The interpreter's and libclang's own reports are counted but not judged.
# Log: build/valgrind/valgrind.log.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install_test_packages.sh
scripts/setup.sh
build_dir=build/valgrind
scripts/build_module.sh "$build_dir"

log="$build_dir/valgrind.log"
PYTHONMALLOC=malloc PYTHONPATH="$PWD/$build_dir/site" \
  valgrind --leak-check=full --show-leak-kinds=definite --errors-for-leak-kinds=definite \
  --num-callers=40 --log-file="$log" \
  .venv/bin/python tests/valgrind/exercise_module.py

.venv/bin/python scripts/valgrind_findings.py "$log"
