#!/usr/bin/env bash
# Installs everything astsieve needs on a fresh Debian machine with Python:
# the Debian packages of deps/apt-packages, a virtual environment in .venv
# with the pinned tools of deps/requirements-dev.txt, and astsieve itself.
# Safe to run again: it installs only what is missing and rebuilds astsieve.
set -euo pipefail
cd "$(dirname "$0")/.."

llvm_major=$(cat deps/llvm-major)
mapfile -t packages < <(grep -v -E '^\s*(#|$)' deps/apt-packages | sed "s/LLVM_MAJOR/${llvm_major}/")
missing=()
for package in "${packages[@]}"; do
  dpkg -s "$package" >/dev/null 2>&1 || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing Debian packages: ${missing[*]}"
  sudo_cmd=""
  [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq "${missing[@]}" >/dev/null
fi

python=${PYTHON:-python3}
if [ ! -x .venv/bin/python ]; then
  "$python" -m venv .venv
fi
.venv/bin/python -m pip install -q --disable-pip-version-check -r deps/requirements-dev.txt
.venv/bin/python -m pip install -q --disable-pip-version-check .
