"""The declarations a unified diff touches.

A changed line is a line the diff adds, or, where the diff only removes
lines, the new file's lines on either side of the removal: removals count
through the lines around them. A top-level declaration is touched when one of its file's changed
lines lies in its line range.
"""

from __future__ import annotations

import functools
import os
import re
from typing import Dict, Iterable, List, NamedTuple, Set, Tuple

from unidiff.errors import UnidiffParseError
from unidiff.patch import PatchSet

from .patterns import ecmascript_escape
from .records import Declaration
from .scan import UnitResult

__all__ = [
    "DiffError",
    "Touched",
    "changed_lines",
    "diff_pattern",
    "git_path",
    "is_c_file",
    "touched_declarations",
]

_LINE_TYPES = ("+", "-", " ")

# What C and C++ units compile or include, by extension, lower-cased (clang
# takes .C and .H for C++): sources, headers, and the files headers include
# for templates, inline functions and tables of macros.
_C_EXTENSIONS = frozenset(
    ".c .cc .cp .cpp .cxx .c++ .cppm .ixx .cu .m .mm "
    ".h .hh .hp .hpp .hxx .h++ .cuh .inc .inl .ipp .tcc .tpp .txx .def".split()
)

# git's escapes in a quoted path: C's, and an octal number for any other byte.
_GIT_ESCAPE = re.compile(rb"\\([0-7]{1,3}|.)", re.DOTALL)
_GIT_ESCAPED = dict(zip(b'abtnvfr"\\', b'\a\b\t\n\v\f\r"\\'))


class DiffError(Exception):
    """Text that is no unified diff; one line."""


class Touched(NamedTuple):
    """A declaration (its file named as in the diff) and its changed lines."""

    declaration: Declaration
    lines: Tuple[int, ...]


def is_c_file(path: str) -> bool:
    """Whether `path` is named as a C or C++ source or header. Files with no
    extension (C++'s own headers, `Makefile`) are not: a unit may include
    one, which only its parse tells."""
    return os.path.splitext(path)[1].lower() in _C_EXTENSIONS


def _git_byte(match: "re.Match[bytes]") -> bytes:
    code = match.group(1)
    if code[0] in b"01234567":
        return bytes((int(code, 8) & 0xFF,))
    return bytes((_GIT_ESCAPED.get(code[0], code[0]),))


def git_path(name: str) -> str:
    """`name` as a diff writes it, unquoted: git puts a path holding special
    or (by default, `core.quotePath`) non-ASCII bytes in double quotes, with
    C's escapes and octal bytes. The bytes are read as UTF-8; those that are
    not come back as surrogates, as `os.fsdecode` gives them."""
    if len(name) < 2 or name[0] != '"' or name[-1] != '"':
        return name
    quoted = name[1:-1].encode("utf-8", "surrogateescape")
    return _GIT_ESCAPE.sub(_git_byte, quoted).decode("utf-8", "surrogateescape")


def _hunk_lines(hunk) -> Set[int]:  # type: ignore[no-untyped-def]
    found: Set[int] = set()
    # The new file's line before the hunk's first: a hunk that only removes
    # lines starts at the line before the removal.
    previous = hunk.target_start - 1 if hunk.target_length else hunk.target_start
    removed = False
    for line in hunk:
        if line.line_type not in _LINE_TYPES:
            continue  # "\ No newline at end of file"
        if line.is_removed:
            removed = True
            continue
        if line.is_added:
            found.add(line.target_line_no)  # in place of any lines just removed
        elif removed:
            found.update((previous, line.target_line_no))
        removed = False
        previous = line.target_line_no
    if removed:
        found.update((previous, previous + 1))
    found.discard(0)
    return found


def changed_lines(text: str) -> Dict[str, Set[int]]:
    """{path as the diff names it: changed lines of the new file}; files the
    diff deletes, and binary files, have no lines to change."""
    try:
        patches = PatchSet(text)
    except UnidiffParseError as error:
        raise DiffError(f"not a unified diff: {error}") from None
    if not len(patches) and text.strip():
        raise DiffError("not a unified diff: no file header (--- a/FILE, +++ b/FILE) found")
    changed: Dict[str, Set[int]] = {}
    for patch in patches:
        if patch.is_removed_file or patch.is_binary_file:
            continue
        lines = changed.setdefault(git_path(patch.path), set())
        for hunk in patch:
            lines.update(_hunk_lines(hunk))
    return changed


@functools.lru_cache(maxsize=None)
def real_path(path: str) -> str:
    return os.path.realpath(path)


def _name_pattern(name: str) -> str:
    # Bytes that are not UTF-8 cannot reach the engine: any name stands in.
    return re.sub("[\udc80-\udcff]+", "[^/]*", ecmascript_escape(name))


def diff_pattern(paths: Iterable[str]) -> str:
    """A path pattern accepting every file named like one of `paths`; the
    exact file is chosen by its real path afterwards, since libclang spells
    a path as the compiler arguments lead to it: relative, through `..` or
    links."""
    names = sorted({_name_pattern(os.path.basename(path)) for path in paths})
    return "(?:.*/)?(?:" + "|".join(names) + ")" if names else ""


def touched_declarations(
    changed: Dict[str, Set[int]], root: str, results: Iterable[UnitResult]
) -> Tuple[List[Touched], Set[str]]:
    """The declarations touched by `changed` ({path relative to `root`:
    lines}), each once however many units hold it, in the order of `changed`
    and then by line; and the paths of `changed` that some unit reads."""
    by_real = {real_path(os.path.join(root, path)): path for path in changed}
    declarations: Set[Declaration] = set()
    reached: Set[str] = set()
    for result in results:
        reached.update(by_real[real] for real in map(real_path, result.files) if real in by_real)
        for record in result.records:
            declaration = record.declaration
            path = by_real.get(real_path(declaration.file)) if declaration else None
            if declaration and path is not None:
                declarations.add(declaration._replace(file=path))
    order = {path: index for index, path in enumerate(changed)}
    touched = []
    for declaration in sorted(declarations, key=lambda d: (order[d.file], d[3], d[4], d[0], d[1])):
        lines = changed[declaration.file]
        inside = [line for line in lines if declaration.first_line <= line <= declaration.last_line]
        if inside:
            touched.append(Touched(declaration, tuple(sorted(inside))))
    return touched, reached
