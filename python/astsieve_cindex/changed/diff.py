"""Reading a unified diff: the lines it changes in each file, the lines it
removes, and the paths files had before.

A changed line is a line the diff adds, or, where the diff only removes
lines, the new file's lines on either side of the removal: removals count
through the lines around them. Paths are unquoted as git quotes them.
"""

from __future__ import annotations

import os
import re
from typing import Dict, NamedTuple, Set

from unidiff.errors import UnidiffParseError
from unidiff.patch import PatchSet

__all__ = ["Diff", "DiffError", "changed_lines", "git_path", "is_c_file", "read_diff"]

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



class Diff(NamedTuple):
    """A unified diff: {path: changed lines of the new file}, {path: lines
    removed, numbered as in the old file}, {path: the path it had before}
    for the files it changes, and the patches themselves."""

    changed: Dict[str, Set[int]]
    removed: Dict[str, Set[int]]
    old_paths: Dict[str, str]
    patches: PatchSet



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


def _old_path(patch) -> str:  # type: ignore[no-untyped-def]
    name = git_path(patch.source_file)
    return name[2:] if name.startswith("a/") else name


def read_diff(text: str) -> Diff:
    """The diff's paths as it names them and their lines; files the diff
    deletes, and binary files, have no lines to change. Only files the diff
    does not add have an old path."""
    try:
        patches = PatchSet(text)
    except UnidiffParseError as error:
        raise DiffError(f"not a unified diff: {error}") from None
    if not len(patches) and text.strip():
        raise DiffError("not a unified diff: no file header (--- a/FILE, +++ b/FILE) found")
    diff = Diff({}, {}, {}, patches)
    for patch in patches:
        if patch.is_removed_file or patch.is_binary_file:
            continue
        path = git_path(patch.path)
        lines = diff.changed.setdefault(path, set())
        for hunk in patch:
            lines.update(_hunk_lines(hunk))
        if not patch.is_added_file:
            diff.old_paths[path] = _old_path(patch)
            removed = {
                number
                for hunk in patch
                for line in hunk
                for number in (line.source_line_no,)
                if line.is_removed and number is not None
            }
            if removed:
                diff.removed[path] = removed
    return diff


def changed_lines(text: str) -> Dict[str, Set[int]]:
    """{path as the diff names it: changed lines of the new file}, as
    `read_diff` gives them."""
    return read_diff(text).changed
