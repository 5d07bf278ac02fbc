"""Clang's builtin headers for the libclang that clang.cindex has loaded.

clang takes its builtin headers (stddef.h, stdarg.h, limits.h, ...) from its
resource directory, which libclang derives from the place of its own file. A
libclang shipped without them, like the one in the PyPI `libclang` wheel,
parses no file that includes a C library header: "'stddef.h' file not
found". Another clang installation on the machine may have them.

A resource directory *matches* the loaded libclang when its version has the
major of the version the library reports (clang_getClangVersion). The
builtin headers of one release rely on that release's builtins and
predefined macros, which another major may lack or define otherwise; within
one major they agree. A directory named with the library's exact version
comes first, then the others of its major. The folder `resource` beside the
library file (the layout of the `libclang-ng` wheel) ships with the library
itself, so it matches whatever its name.
"""

from __future__ import annotations

import glob
import os
import re
from types import ModuleType
from typing import List, NamedTuple, Optional, Sequence, Tuple

from .loading import LibclangMismatchError, libclang_file

__all__ = [
    "SEARCH_PATTERNS",
    "BuiltinHeaders",
    "builtin_headers",
    "finds_builtin_headers",
    "is_resource_dir",
    "libclang_version",
    "matching_resource_dirs",
    "version_numbers",
]

# Where distributions and LLVM's own installations keep resource
# directories, one folder per version (`14.0.6`, `19`).
SEARCH_PATTERNS = (
    "/usr/lib/llvm-*/lib/clang/*",
    "/usr/lib/clang/*",
    "/usr/lib64/clang/*",
    "/usr/local/lib/clang/*",
)

# The builtin header whose absence tells that a resource directory is
# missing; every C library header set needs it.
PROBE_HEADER = "stddef.h"
_NOT_FOUND = f"'{PROBE_HEADER}' file not found"
_VERSION = re.compile(r"version (\d+(?:\.\d+)*)")
_VERSION_NAME = re.compile(r"\d+(?:\.\d+)*")


def libclang_version(cindex: ModuleType) -> str:
    """The version text of the loaded libclang, e.g. "clang version 18.1.1"."""
    # clang.cindex registers no clang_getClangVersion: a function object of
    # its own (indexing, unlike the attribute, makes a new one) takes
    # clang.cindex's CXString and its conversion to text, which disposes of
    # the string.
    get_version = cindex.conf.lib["clang_getClangVersion"]
    get_version.restype = cindex._CXString
    get_version.errcheck = cindex._CXString.from_result
    return str(get_version() or "")


def version_numbers(text: str) -> Tuple[int, ...]:
    """(18, 1, 1) from "clang version 18.1.1 (...)"; () when there is none."""
    match = _VERSION.search(text)
    return tuple(int(part) for part in match.group(1).split(".")) if match else ()


def is_resource_dir(path: str) -> bool:
    """Whether `path` holds clang's builtin headers."""
    return os.path.isfile(os.path.join(path, "include", PROBE_HEADER))


def matching_resource_dirs(
    version: Sequence[int],
    library_file: Optional[str] = None,
    patterns: Optional[Sequence[str]] = None,
) -> List[str]:
    """The resource directories on this machine that match a libclang of
    `version` whose file is `library_file`, best first, one per set of
    headers (two names of one folder count once). `patterns` are globs of
    version folders, by default SEARCH_PATTERNS."""
    if not version:
        return []
    patterns = list(SEARCH_PATTERNS if patterns is None else patterns)
    exact: List[str] = []
    same_major: List[str] = []
    beside: List[str] = []
    if library_file:
        directory = os.path.dirname(library_file)
        beside.append(os.path.join(directory, "resource"))
        patterns = [os.path.join(directory, "clang", "*"), *patterns]
    for pattern in patterns:
        for path in sorted(glob.glob(pattern)):
            name = os.path.basename(path)
            if not _VERSION_NAME.fullmatch(name):
                continue
            numbers = tuple(int(part) for part in name.split("."))
            if numbers[0] == version[0]:
                (exact if numbers == tuple(version) else same_major).append(path)
    found: List[str] = []
    seen = set()
    for path in [*beside, *exact, *same_major]:
        if is_resource_dir(path):
            headers = os.path.realpath(os.path.join(path, "include"))
            if headers not in seen:
                seen.add(headers)
                found.append(path)
    return found


def _probe_suffix(compiler_arguments: Sequence[str]) -> str:
    arguments = list(compiler_arguments)
    cplusplus = any(a.startswith(("-std=c++", "-std=gnu++")) for a in arguments) or any(
        a == "-x" and b.startswith("c++") for a, b in zip(arguments, arguments[1:])
    )
    return ".cpp" if cplusplus else ".c"


def finds_builtin_headers(cindex: ModuleType, compiler_arguments: Sequence[str] = ()) -> bool:
    """Whether the loaded libclang finds its builtin headers when it parses
    with `compiler_arguments`. Arguments libclang cannot parse with at all
    tell nothing about the headers and count as found."""
    # The probe takes the language the arguments choose: a C probe would make
    # C++-only options such as -std=c++17 fail the parse, telling nothing.
    probe = "astsieve-builtin-headers-probe" + _probe_suffix(compiler_arguments)
    try:
        unit = cindex.TranslationUnit.from_source(
            probe,
            args=list(compiler_arguments),
            unsaved_files=[(probe, f"#include <{PROBE_HEADER}>\n")],
        )
    except cindex.TranslationUnitLoadError:
        return True
    return all(diagnostic.spelling != _NOT_FOUND for diagnostic in unit.diagnostics)


class BuiltinHeaders(NamedTuple):
    """How to parse so that clang's builtin headers are found."""

    # The compiler arguments to parse with.
    arguments: List[str]
    # What was chosen without being asked for, to tell the user; or None.
    note: Optional[str]
    # Why files that include C library headers will fail, and what to do,
    # in one line; None when the builtin headers are found.
    missing: Optional[str]


def _library_file() -> Optional[str]:
    # Only named in the messages: when it cannot be told, they say so.
    try:
        return libclang_file()
    except LibclangMismatchError:
        return None


def _option_missing(resource_dir: str) -> str:
    return f"--resource-dir {resource_dir}: no clang builtin headers there (include/{PROBE_HEADER})"


def builtin_headers(
    cindex: ModuleType, compiler_arguments: Sequence[str], resource_dir: Optional[str] = None
) -> BuiltinHeaders:
    """The compiler arguments that give the loaded libclang its builtin headers.

    `resource_dir`, when given, is used as it is. Otherwise, when the
    loaded libclang finds no builtin headers with `compiler_arguments` and
    these choose no resource directory themselves, a matching resource
    directory of this machine is added and named in `note`; with none,
    `missing` says what to install.
    """
    arguments = list(compiler_arguments)
    if resource_dir is not None:
        missing = None if is_resource_dir(resource_dir) else _option_missing(resource_dir)
        return BuiltinHeaders([*arguments, "-resource-dir", resource_dir], None, missing)
    if finds_builtin_headers(cindex, arguments):
        return BuiltinHeaders(arguments, None, None)
    text = libclang_version(cindex)
    version = version_numbers(text)
    library_file = _library_file()
    named = ".".join(map(str, version)) if version else repr(text)
    described = f"libclang {named} ({library_file or 'file unknown'})"
    chosen = "-resource-dir" in arguments
    found = [] if chosen else matching_resource_dirs(version, library_file)
    if found:
        note = f"{described} has no clang builtin headers; using those of {found[0]}"
        return BuiltinHeaders([*arguments, "-resource-dir", found[0]], note, None)
    major = version[0] if version else "N"
    where = "the chosen -resource-dir has" if chosen else "this machine has"
    missing = (
        f"{described} comes without clang's builtin headers ({PROBE_HEADER}, ...) and {where} "
        f"none of clang {major}: install them (Debian: libclang-common-{major}-dev) "
        f"or pass --resource-dir DIR of a clang {major} installation"
    )
    return BuiltinHeaders(arguments, None, missing)
