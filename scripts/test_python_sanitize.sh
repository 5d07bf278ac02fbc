#!/usr/bin/env bash
# Runs the Python test suite against an extension module built with
# AddressSanitizer and UndefinedBehaviorSanitizer (build/python-sanitize).
# The interpreter is not instrumented, so the ASan runtime is preloaded into
# it, and the C++ library with it (ASan finds the library's __cxa_throw only if
# it is loaded by then). Python objects are allocated with malloc so that ASan
# watches them too.
# Leak detection is off here: the interpreter keeps much of its memory until
# exit (scripts/valgrind_leaks.sh checks the module for leaks). Extra
# arguments go to pytest.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
build_dir=build/python-sanitize
scripts/build_module.sh "$build_dir" -DASTSIEVE_SANITIZE=ON

site="$PWD/$build_dir/site"
export LD_PRELOAD
LD_PRELOAD="$(g++ -print-file-name=libasan.so) $(g++ -print-file-name=libstdc++.so)"
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export PYTHONMALLOC=malloc
export PYTHONPATH="$site${PYTHONPATH:+:$PYTHONPATH}"

# Make sure the instrumented build is the one that gets imported.
loaded=$(.venv/bin/python -c 'import astsieve; print(astsieve.__file__)')
case "$loaded" in
  "$site"/*) ;;
  *) echo "test-python-sanitize: imported $loaded, not the instrumented module" >&2; exit 1 ;;
esac

.venv/bin/python -m pytest -q -p no:cacheprovider tests/python "$@"
