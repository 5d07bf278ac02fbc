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

Where no directory matches, the one of the nearest other major is taken
(newer before older at the same distance), but only once a probe parse of
the builtin headers every C library header set reaches (PROBE_HEADERS)
succeeds with it: the headers of a near release mostly serve, and the probe
turns away those that do not.
"""

from __future__ import annotations

import glob
import os
import re
import subprocess
from types import ModuleType
from typing import Iterator, List, NamedTuple, Optional, Sequence, Tuple

from .diagnostics import stderr_into
from ..loading import LibclangMismatchError, libclang_file

__all__ = [
    "PROBE_HEADERS",
    "SEARCH_PATTERNS",
    "BuiltinHeaders",
    "builtin_headers",
    "finds_builtin_headers",
    "is_resource_dir",
    "libclang_version",
    "matching_resource_dirs",
    "nearest_resource_dirs",
    "offered_header_packages",
    "serves_builtin_headers",
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
# What a resource directory of another major must serve before it is used.
PROBE_HEADERS = ("stddef.h", "stdarg.h", "stdint.h")
# The Debian package of clang N's builtin headers.
_HEADER_PACKAGE = re.compile(r"libclang-common-(\d+)-dev")
# How long the package manager may take to say what it offers.
_PACKAGE_QUERY_SECONDS = 10.0
_VERSION = re.compile(r"version (\d+(?:\.\d+)*)")
_VERSION_NAME = re.compile(r"\d+(?:\.\d+)*")


def libclang_version(cindex: ModuleType) -> str:
    """The version text of the loaded libclang, e.g. "clang version 18.1.1"."""
    # clang.cindex registers no clang_getClangVersion: a function object of
    # its own (indexing, unlike the attribute, makes a new one) returns
    # clang.cindex's CXString, which its conversion turns into text and
    # disposes of. The conversion is called with the string alone, as every
    # version of the bindings takes it (some take no more).
    get_version = cindex.conf.lib["clang_getClangVersion"]
    get_version.restype = cindex._CXString
    text = cindex._CXString.from_result(get_version())
    return (text.decode() if isinstance(text, bytes) else str(text or "")) if text else ""


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
    for numbers, path in _version_folders(patterns):
        if numbers[0] == version[0]:
            (exact if numbers == tuple(version) else same_major).append(path)
    return _distinct_resource_dirs([*beside, *exact, *same_major])


def _version_folders(patterns: Sequence[str]) -> Iterator[Tuple[Tuple[int, ...], str]]:
    # (version, path) of every folder the globs find that is named as a version.
    for pattern in patterns:
        for path in sorted(glob.glob(pattern)):
            name = os.path.basename(path)
            if _VERSION_NAME.fullmatch(name):
                yield tuple(int(part) for part in name.split(".")), path


def _distinct_resource_dirs(paths: Sequence[str]) -> List[str]:
    # Those holding builtin headers, each set of headers once.
    found: List[str] = []
    seen = set()
    for path in paths:
        if is_resource_dir(path):
            headers = os.path.realpath(os.path.join(path, "include"))
            if headers not in seen:
                seen.add(headers)
                found.append(path)
    return found


def _nearness(major: int, own: int) -> Tuple[int, bool]:
    # Nearest first; at the same distance, the newer.
    return abs(major - own), major < own


def nearest_resource_dirs(
    version: Sequence[int], patterns: Optional[Sequence[str]] = None
) -> List[str]:
    """The resource directories on this machine of majors other than that
    of `version`, nearest major first, newer before older at the same
    distance, and within a major the folder named by it alone, then the
    newest version; one per set of headers. `patterns` as for
    matching_resource_dirs."""
    if not version:
        return []
    folders = [
        (numbers, path)
        for numbers, path in _version_folders(SEARCH_PATTERNS if patterns is None else patterns)
        if numbers[0] != version[0]
    ]
    folders.sort(key=lambda folder: (_nearness(folder[0][0], version[0]), _descending(folder[0])))
    return _distinct_resource_dirs([path for _, path in folders])


def _descending(numbers: Tuple[int, ...]) -> Tuple[int, ...]:
    return tuple(-number for number in numbers)


def _probe_suffix(compiler_arguments: Sequence[str]) -> str:
    arguments = list(compiler_arguments)
    cplusplus = any(a.startswith(("-std=c++", "-std=gnu++")) for a in arguments) or any(
        a == "-x" and b.startswith("c++") for a, b in zip(arguments, arguments[1:])
    )
    return ".cpp" if cplusplus else ".c"


def _probe(
    cindex: ModuleType, compiler_arguments: Sequence[str], headers: Sequence[str]
) -> Optional[List[Tuple[int, str]]]:
    # The (severity, text) of each diagnostic of a parse of a file that
    # includes `headers` (a diagnostic lives no longer than its unit); None
    # when libclang makes no unit of it. What libclang prints on its own
    # about the arguments is said again for each unit, not here.
    # The probe takes the language the arguments choose: a C probe would make
    # C++-only options such as -std=c++17 fail the parse, telling nothing.
    probe = "astsieve-builtin-headers-probe" + _probe_suffix(compiler_arguments)
    text = "".join(f"#include <{header}>\n" for header in headers)
    try:
        with stderr_into([]):
            unit = cindex.TranslationUnit.from_source(
                probe, args=list(compiler_arguments), unsaved_files=[(probe, text)]
            )
    except cindex.TranslationUnitLoadError:
        return None
    return [(diagnostic.severity, diagnostic.spelling) for diagnostic in unit.diagnostics]


def finds_builtin_headers(cindex: ModuleType, compiler_arguments: Sequence[str] = ()) -> bool:
    """Whether the loaded libclang finds its builtin headers when it parses
    with `compiler_arguments`. Arguments libclang cannot parse with at all
    tell nothing about the headers and count as found."""
    diagnostics = _probe(cindex, compiler_arguments, [PROBE_HEADER])
    return diagnostics is None or all(text != _NOT_FOUND for _, text in diagnostics)


def serves_builtin_headers(
    cindex: ModuleType, compiler_arguments: Sequence[str], resource_dir: str
) -> bool:
    """Whether the loaded libclang parses PROBE_HEADERS without an error
    with the builtin headers of `resource_dir`, a clang installation of
    any version."""
    arguments = [*compiler_arguments, "-resource-dir", resource_dir]
    diagnostics = _probe(cindex, arguments, PROBE_HEADERS)
    error = cindex.Diagnostic.Error
    return diagnostics is not None and all(severity < error for severity, _ in diagnostics)


def offered_header_packages() -> List[int]:
    """The majors N whose builtin headers the system's package manager
    offers and has not installed (Debian's libclang-common-N-dev, asked of
    apt-cache); none where there is no apt-cache or it does not answer in
    time."""

    def ask(*words: str) -> str:
        return subprocess.run(
            ["apt-cache", *words],
            capture_output=True,
            text=True,
            timeout=_PACKAGE_QUERY_SECONDS,
            check=False,
        ).stdout

    try:
        listed = ask("pkgnames", "libclang-common-").split()
        names = [name for name in listed if _HEADER_PACKAGE.fullmatch(name)]
        policy = ask("policy", *names) if names else ""
    except (OSError, subprocess.SubprocessError):
        return []
    offered = []
    # libclang-common-19-dev:\n  Installed: (none)\n  Candidate: 1:19.1.7-3\n ...
    for block in re.split(r"^(?=\S)", policy, flags=re.M):
        fields = dict(re.findall(r"^  (Installed|Candidate): (.*)$", block, re.M))
        name = _HEADER_PACKAGE.match(block)
        installed, candidate = fields.get("Installed"), fields.get("Candidate", "(none)")
        if name and installed == "(none)" and candidate != "(none)":
            offered.append(int(name.group(1)))
    return sorted(set(offered))


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
    if not chosen:
        nearest = _nearest_serving(cindex, arguments, version)
        if nearest is not None:
            note = (
                f"{described} has no clang builtin headers and this machine has none of its "
                f"major; using those of {nearest}, of clang "
                f"{_version_folder_major(nearest)}, another major, as a probe parse of "
                f"{', '.join(PROBE_HEADERS)} with them succeeded"
            )
            return BuiltinHeaders([*arguments, "-resource-dir", nearest], note, None)
    return BuiltinHeaders(arguments, None, _missing(described, version, chosen))


def _nearest_serving(
    cindex: ModuleType, arguments: Sequence[str], version: Sequence[int]
) -> Optional[str]:
    for path in nearest_resource_dirs(version):
        if serves_builtin_headers(cindex, arguments, path):
            return path
    return None


def _version_folder_major(path: str) -> str:
    return os.path.basename(path).split(".")[0]


def _missing(described: str, version: Sequence[int], chosen: bool) -> str:
    # What can be done on this system, in one line.
    major = version[0] if version else None
    clang = f"clang {major}" if major else "clang"
    offered = offered_header_packages()
    remedies = []
    if major in offered:
        remedies.append(f"install those of {clang} (apt-get install libclang-common-{major}-dev)")
    elif offered and major:
        near = min(offered, key=lambda other: _nearness(other, major))
        remedies.append(
            f"install those of clang {near}, the nearest major the package manager offers "
            f"(apt-get install libclang-common-{near}-dev)"
        )
    remedies.append(
        "install astsieve with its libclang-ng extra, a libclang that brings its own "
        "(pip install '.[libclang-ng]' in astsieve's source folder)"
    )
    remedies.append(f"pass --resource-dir DIR of a {clang} installation")
    where = "the chosen -resource-dir has" if chosen else "this machine has"
    return (
        f"{described} comes without clang's builtin headers ({PROBE_HEADER}, ...) and {where} "
        f"none that serve it: " + "; or ".join(remedies)
    )
