#!/usr/bin/env bash
# Runs tests/valgrind/exercise_module.py (all three functions, successful and
# failing calls) under valgrind --leak-check=full against a build of the
# module with debug information (the CMake preset valgrind, build/valgrind),
# and fails if valgrind reports a definite leak, or any memory error, with a
# frame in the module. The interpreter's and libclang's own reports are
# counted but not judged. Log: build/valgrind/valgrind.log.
source "$(dirname "$0")/lib.sh"

install_test_packages
scripts/setup.sh
scripts/build_module.sh valgrind
use_module_build valgrind

log=build/valgrind/valgrind.log
PYTHONMALLOC=malloc valgrind --leak-check=full --show-leak-kinds=definite --errors-for-leak-kinds=definite \
  --num-callers=40 --log-file="$log" \
  .venv/bin/python tests/valgrind/exercise_module.py

.venv/bin/python scripts/valgrind_findings.py "$log"
