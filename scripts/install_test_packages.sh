#!/usr/bin/env bash
# Installs the Debian packages of deps/apt-packages that are missing: what the
# C++ suite, the benchmarks and the hardening checks need beyond
# scripts/setup.sh (a libclang to link, LLVM, GoogleTest, clang-format, ...).
# Runs apt-get as root, or through sudo.
set -euo pipefail
cd "$(dirname "$0")/.."

llvm_major=$(cat deps/llvm-major)
mapfile -t packages < <(grep -v -E '^\s*(#|$)' deps/apt-packages | sed "s/LLVM_MAJOR/${llvm_major}/")
missing=()
for package in "${packages[@]}"; do
  dpkg -s "$package" >/dev/null 2>&1 || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "install-test-packages: installing Debian packages: ${missing[*]}"
  sudo_cmd=""
  [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq "${missing[@]}" >/dev/null
fi
