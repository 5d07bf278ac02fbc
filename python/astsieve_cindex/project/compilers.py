"""What a compilation database's compiler word tells: the program it runs
(found as a shell finds it), the target its name implies
(`arm-none-eabi-gcc`: arm-none-eabi), whether it is clang or this
machine's own compiler, and whether a --query-driver allowlist names it.

A database is untrusted input: only a path that an allowlist glob matches
is ever run, and the path matched is the path run.
"""

from __future__ import annotations

import functools
import os
import re
import shutil
from typing import FrozenSet, Optional, Pattern, Sequence

__all__ = [
    "allowlist",
    "compiler_path",
    "implied_target",
    "is_own_compiler",
    "target_given",
]

# A compiler's name with a target before it: TRIPLE-gcc, TRIPLE-g++-12,
# TRIPLE-clang++; the triple's first part an architecture clang knows.
_PREFIXED = re.compile(
    r"(?P<target>(?P<arch>[a-z0-9_]+)-[A-Za-z0-9_.-]+?)"
    r"-(?:gcc|g\+\+|cc|c\+\+|clang|clang\+\+|cpp)(?:-[0-9][0-9.]*)?"
)
_ARCHITECTURES = re.compile(
    r"arm\w*|thumb\w*|aarch64\w*|arm64\w*|x86_64|i[3-6]86|riscv(?:32|64)|mips\w*|powerpc\w*"
    r"|ppc\w*|sparc\w*|s390x|xtensa|avr|msp430|hexagon|loongarch(?:32|64)|m68k|sh\d?\w*"
    r"|wasm(?:32|64)|amdgcn|nvptx\w*|bpf\w*|csky|lanai|ve|systemz|arc|xcore"
)
# The names of clang, and of the compiler any machine calls its own.
_PLAIN = re.compile(r"(?:clang(?:\+\+|-cl)?|cc|c\+\+|gcc|g\+\+)(?:-[0-9][0-9.]*)?(?:\.exe)?")


def implied_target(compiler: str) -> Optional[str]:
    """The target a compiler's name implies, as clang's own tooling reads
    it (`arm-none-eabi-gcc`: "arm-none-eabi"); None for a plain name."""
    match = _PREFIXED.fullmatch(os.path.basename(compiler))
    if match is None or not _ARCHITECTURES.fullmatch(match["arch"]):
        return None
    return match["target"]


def target_given(arguments: Sequence[str]) -> bool:
    """Whether `arguments` choose a target themselves."""
    return any(word == "-target" or word.startswith("--target=") for word in arguments)


def compiler_path(compiler: str, directory: str) -> Optional[str]:
    """The program a database's compiler word runs, as the build ran it
    from `directory`: a bare name through PATH (a relative folder of PATH
    taken against `directory`), a path against `directory`; absolute and
    normalized, and None when there is no such program. This path is the
    one an allowlist must match and the very one run: no `.` or `..` is
    left in it for the system to resolve, through a link, elsewhere."""
    if not compiler:
        return None
    if os.sep not in compiler:
        folders = os.environ.get("PATH", os.defpath).split(os.pathsep)
        search = os.pathsep.join(os.path.join(directory, folder) for folder in folders)
        found = shutil.which(compiler, path=search)
        return os.path.normpath(os.path.abspath(found)) if found else None
    path = os.path.normpath(os.path.join(directory, compiler))
    return path if os.path.isfile(path) and os.access(path, os.X_OK) else None


@functools.lru_cache(maxsize=None)
def _own_compilers() -> FrozenSet[str]:
    found = (shutil.which(name) for name in ("cc", "c++", "gcc", "g++", "clang", "clang++"))
    return frozenset(os.path.realpath(path) for path in found if path)


def is_own_compiler(compiler: str, directory: str) -> bool:
    """Whether a unit's compiler is clang or this machine's default compiler
    (or unknown), whose target and headers libclang's own defaults fit."""
    if not compiler or _PLAIN.fullmatch(os.path.basename(compiler)):
        return True
    path = compiler_path(compiler, directory)
    return path is not None and os.path.realpath(path) in _own_compilers()


def _glob_pattern(glob: str) -> str:
    # clangd's globs: `**` crosses folders, `*` and `?` stay within one.
    pattern = []
    for part in re.split(r"(\*\*|\*|\?|\[[^\]]*\])", glob):
        if part == "**":
            pattern.append(".*")
        elif part == "*":
            pattern.append("[^/]*")
        elif part == "?":
            pattern.append("[^/]")
        elif part.startswith("[") and part.endswith("]") and len(part) > 2:
            body = part[1:-1]
            pattern.append("[" + ("^" + body[1:] if body.startswith("!") else body) + "]")
        else:
            pattern.append(re.escape(part))
    return "".join(pattern)


def allowlist(globs: str) -> Pattern[str]:
    """The comma-separated `globs` of --query-driver as one pattern that a
    compiler's whole path must match."""
    parts = [glob.strip() for glob in globs.split(",") if glob.strip()]
    return re.compile("|".join(f"(?:{_glob_pattern(glob)})" for glob in parts) or "(?!)")
