#!/usr/bin/env bash
# Formats the project's C++ sources with clang-format (the LLVM major of
# deps/llvm-major); with --check it only reports files that differ and fails.
source "$(dirname "$0")/lib.sh"

clang_format="clang-format-$llvm_major"
mapfile -t sources < <(git ls-files 'engine/*' 'module/*' 'python/astsieve_cindex/_native/*' 'tests/*' 'bench/*' 'fuzz/*' | grep -E '\.(cpp|h)$')
if [ "${1:-}" = "--check" ]; then
  "$clang_format" --dry-run -Werror "${sources[@]}"
else
  "$clang_format" -i "${sources[@]}"
fi
