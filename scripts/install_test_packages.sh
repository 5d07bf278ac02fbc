#!/usr/bin/env bash
# Installs the Debian packages of deps/apt-packages that are missing: what the
# C++ suite, the benchmarks and the hardening checks need beyond
# scripts/setup.sh (a libclang to link, LLVM, GoogleTest, clang-format, ...).
# Runs apt-get as root, or through sudo.
source "$(dirname "$0")/lib.sh"

install_test_packages
