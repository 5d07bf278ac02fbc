# shellcheck shell=bash
# Sourced first by every script of this folder:
#   source "$(dirname "$0")/lib.sh"
# It turns on strict mode, makes the project's root the working directory
# ($root) and reads the LLVM major of deps/llvm-major ($llvm_major). The
# functions below are what the scripts share; the CMake builds are the
# presets of CMakePresets.json, each in build/<preset>.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
root=$PWD
llvm_major=$(<deps/llvm-major)
if ! [[ $llvm_major =~ ^[0-9]+$ ]]; then
  echo "lib.sh: deps/llvm-major holds no LLVM major: '$llvm_major'" >&2
  exit 1
fi

# print_header: the comment at the head of the running script, without its
# comment signs (the scripts' --help).
print_header() {
  awk 'NR > 1 && !/^#/ {exit} NR > 1 {sub(/^# ?/, ""); print}' "$0"
}

# deps_lines FILE: the lines of FILE without comments and blank lines, with
# LLVM_MAJOR replaced by $llvm_major.
deps_lines() {
  grep -v -E '^\s*(#|$)' "$1" | sed "s/LLVM_MAJOR/${llvm_major}/g"
}

# apt_install_missing WHO PACKAGE...: installs those of the Debian PACKAGEs
# that are missing, as root or through sudo. The package lists are updated
# once per run: a script started from one that updated them skips that.
# Returns non-zero, saying why, when it cannot install them.
apt_install_missing() {
  local who=$1 package
  local missing=() sudo_cmd=()
  shift
  for package; do
    dpkg -s "$package" >/dev/null 2>&1 || missing+=("$package")
  done
  [ ${#missing[@]} -gt 0 ] || return 0
  echo "$who: installing Debian packages: ${missing[*]}"
  if [ "$(id -u)" -ne 0 ]; then
    if ! command -v sudo >/dev/null; then
      echo "$who: neither root nor sudo: cannot install ${missing[*]}" >&2
      return 1
    fi
    sudo_cmd=(sudo)
  fi
  if [ -z "${ASTSIEVE_APT_UPDATED:-}" ]; then
    "${sudo_cmd[@]}" apt-get update -qq || return 1
    export ASTSIEVE_APT_UPDATED=1
  fi
  "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
}

# install_test_packages: the missing Debian packages of deps/apt-packages,
# what the C++ suite, the benchmarks and the hardening checks need.
install_test_packages() {
  local packages
  mapfile -t packages < <(deps_lines deps/apt-packages)
  apt_install_missing install-test-packages "${packages[@]}"
}

# make_venv DIR [PYTHON]: the virtual environment DIR, made with PYTHON
# ($PYTHON, else python3) unless it exists, with the pip of
# deps/requirements-pip.txt (a new environment may bring an older one).
make_venv() {
  local dir=$1 python=${2:-${PYTHON:-python3}}
  [ -x "$dir/bin/python" ] || "$python" -m venv "$dir"
  venv_pip "$dir" install -q -r deps/requirements-pip.txt
}

# venv_pip DIR ARG...: the pip of the virtual environment DIR.
venv_pip() {
  local dir=$1
  shift
  "$dir/bin/python" -m pip --disable-pip-version-check "$@"
}

# sanitizer_env RUNTIME [ASAN_OPTION...]: the environment in which .venv's
# interpreter, which is not instrumented, loads a module built with
# AddressSanitizer and UndefinedBehaviorSanitizer. The ASan runtime RUNTIME is
# preloaded, and the C++ library with it (ASan finds the library's
# __cxa_throw only if it is loaded by then). Leak detection is off: the
# interpreter keeps much of its memory until exit (scripts/valgrind_leaks.sh
# checks the module for leaks). ASan keeps off the threads' alternate signal
# stacks: libclang builds a precompiled preamble on a thread of its own, and as
# that thread ends ASan's runtime cannot unmap the signal stack it gave it and
# aborts on a check of its own (no fault of the code under test). Every
# failure halts.
sanitizer_env() {
  local runtime=$1 options=detect_leaks=0:use_sigaltstack=0 option
  shift
  for option; do options+=":$option"; done
  LD_PRELOAD="$runtime $(g++ -print-file-name=libstdc++.so)"
  export LD_PRELOAD
  export ASAN_OPTIONS=$options
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
}

# use_module_build PRESET: puts the module that scripts/build_module.sh built
# with PRESET (build/PRESET/site) first on PYTHONPATH, and fails unless
# .venv's interpreter then imports that one. With a sanitized build, call it
# after sanitizer_env.
use_module_build() {
  local site=$root/build/$1/site loaded
  export PYTHONPATH="$site${PYTHONPATH:+:$PYTHONPATH}"
  loaded=$(.venv/bin/python -c 'import astsieve; print(astsieve.__file__)')
  case "$loaded" in
    "$site"/*) ;;
    *) echo "$(basename "$0"): imported $loaded, not the module of build/$1" >&2; exit 1 ;;
  esac
}
