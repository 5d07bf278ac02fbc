"""The declarations a unified diff touches.

A changed line is a line the diff adds, or, where the diff only removes
lines, the new file's lines on either side of the removal: removals count
through the lines around them. A top-level declaration is touched when one
of its file's changed lines lies in its line range; several may hold one
line (`struct point {...} origin;`). A changed line in code the
preprocessor skipped (`#if 0`) that holds no node in any unit is inactive.
"""

from __future__ import annotations

import functools
import os
import re
from typing import Any, Dict, Iterable, List, NamedTuple, Optional, Set, Tuple, Union

from unidiff.errors import UnidiffParseError
from unidiff.patch import PatchSet

from .patterns import ecmascript_escape
from .records import Declaration
from .scan import UnitResult

__all__ = [
    "DiffError",
    "Inactive",
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

# An anonymous type's name as the records give it, with its file's path.
_ANONYMOUS = re.compile(r"(\(anonymous (?:struct|union|class|enum) at )(.+?)(:[0-9]+\))")


class DiffError(Exception):
    """Text that is no unified diff; one line."""


class Touched(NamedTuple):
    """A declaration (its file named as in the diff) and its changed lines."""

    declaration: Declaration
    lines: Tuple[int, ...]


class Inactive(NamedTuple):
    """Lines the preprocessor skipped, from the directive that began the
    skip to the one that ended it (the file named as in the diff), and the
    changed lines among them."""

    file: str
    first_line: int
    last_line: int
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


class _Paths:
    """The diff's paths by the real paths of the files they name."""

    def __init__(self, changed: Dict[str, Set[int]], root: str) -> None:
        self.by_real = {real_path(os.path.join(root, path)): path for path in changed}
        self.root = real_path(root)

    def of(self, file: str) -> Optional[str]:
        return self.by_real.get(real_path(file))

    def _relative(self, match: "re.Match[str]") -> str:
        before, file, after = match.groups()
        path = self.of(file)
        if path is None:
            real = real_path(file)
            inside = real.startswith(self.root.rstrip("/") + "/")
            path = os.path.relpath(real, self.root) if inside else file
        return before + path + after

    def name(self, name: str) -> str:
        """`name` with the file of each anonymous type in it relative to the
        root, as the diff names it where it does."""
        return _ANONYMOUS.sub(self._relative, name) if "(anonymous " in name else name


def touched_declarations(
    changed: Dict[str, Set[int]], root: str, results: Iterable[UnitResult]
) -> Tuple[List[Union[Touched, Inactive]], Set[str]]:
    """The declarations touched by `changed` ({path relative to `root`:
    lines}), each once however many units hold it, and the skipped ranges
    holding inactive changed lines, in the order of `changed` and then by
    line; and the paths of `changed` that some unit reads."""
    paths = _Paths(changed, root)
    declarations: Set[Declaration] = set()
    skipped: Set[Tuple[str, int, int]] = set()
    active: Set[Tuple[str, int]] = set()  # changed lines holding a node
    reached: Set[str] = set()
    for result in results:
        reached.update(filter(None, map(paths.of, result.files)))
        table = result.table
        if table is None:
            continue
        files = [paths.of(file) for file in table.files]
        for found in table.declarations:
            path = files[found.file]
            if path is not None:
                name = paths.name(found.name)
                declarations.add(
                    Declaration(found.kind, name, path, found.first_line, found.last_line)
                )
        ranges = [
            (path, r.first_line, r.last_line)
            for r in table.skipped
            for path in (files[r.file],)
            if path is not None
            and any(r.first_line <= line <= r.last_line for line in changed[path])
        ]
        if ranges:
            skipped.update(ranges)
            for node in table.nodes:
                path = files[node.file]
                if path is not None and node.line in changed[path]:
                    active.add((path, node.line))
    order = {path: index for index, path in enumerate(changed)}
    entries: List[Tuple[Tuple[Any, ...], Union[Touched, Inactive]]] = []
    for declaration in declarations:
        lines = changed[declaration.file]
        inside = [line for line in lines if declaration.first_line <= line <= declaration.last_line]
        if inside:
            key = (order[declaration.file], declaration[3], declaration[4], 0, *declaration[:2])
            entries.append((key, Touched(declaration, tuple(sorted(inside)))))
    for path, first, last in skipped:
        inside = [
            line for line in changed[path] if first <= line <= last and (path, line) not in active
        ]
        if inside:
            entry = Inactive(path, first, last, tuple(sorted(inside)))
            entries.append(((order[path], first, last, 1), entry))
    entries.sort(key=lambda keyed: keyed[0])
    return [entry for _, entry in entries], reached
