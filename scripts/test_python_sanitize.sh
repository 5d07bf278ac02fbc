#!/usr/bin/env bash
# Runs the Python test suite against an extension module built with
# AddressSanitizer and UndefinedBehaviorSanitizer (the CMake preset
# python-sanitize, build/python-sanitize), in .venv's interpreter with GCC's
# ASan runtime preloaded (lib.sh's sanitizer_env: leak detection is off, as
# scripts/valgrind_leaks.sh checks the module for leaks). Python objects are
# allocated with malloc so that ASan watches them too. Extra arguments go to
# pytest.
source "$(dirname "$0")/lib.sh"

scripts/setup.sh
scripts/build_module.sh python-sanitize

sanitizer_env "$(g++ -print-file-name=libasan.so)" abort_on_error=1
export PYTHONMALLOC=malloc
use_module_build python-sanitize

.venv/bin/python -m pytest -q -p no:cacheprovider tests/python "$@"
