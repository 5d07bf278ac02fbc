"""The declarations a unified diff touches.

A changed line is a line the diff adds, or, where the diff only removes
lines, the new file's lines on either side of the removal: removals count
through the lines around them. A top-level declaration is touched when one
of its file's changed lines lies in its line range; several may hold one
line (`struct point {...} origin;`). A changed line in code the
preprocessor skipped (`#if 0`) that holds no node in any unit is inactive.

A changed header needs one unit that includes it, found by
`header_candidates`, unless a changed line of it lies in code that unit
skipped (`HeaderCoverage`). Against a base revision, the removed lines
(numbered as in the old file) show the declarations the diff took away.
"""

from __future__ import annotations

import functools
import os
import re
import subprocess
from typing import (
    Any,
    Dict,
    Iterable,
    Iterator,
    List,
    NamedTuple,
    Optional,
    Sequence,
    Set,
    Tuple,
    Union,
)

from unidiff.errors import UnidiffParseError
from unidiff.patch import PatchSet

from ..patterns import ecmascript_escape
from ..project.database import Unit
from ..records import Declaration
from ..project.scan import UnitResult

__all__ = [
    "BaseError",
    "Diff",
    "DiffError",
    "HeaderCoverage",
    "Inactive",
    "Removed",
    "Touched",
    "changed_lines",
    "diff_pattern",
    "git_path",
    "header_candidates",
    "is_c_file",
    "old_texts",
    "read_diff",
    "removed_declarations",
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


class BaseError(Exception):
    """A base revision that cannot be read, or that the diff does not apply
    to; one line."""


class Touched(NamedTuple):
    """A declaration (its file named as in the diff) and its changed lines;
    against a base revision, also the lines removed from it, numbered as in
    the old file."""

    declaration: Declaration
    lines: Tuple[int, ...]
    removed: Tuple[int, ...] = ()


class Removed(NamedTuple):
    """A declaration of the base revision that the diff took away, its lines
    as in the old file, and its removed lines."""

    declaration: Declaration
    removed: Tuple[int, ...]

    @property
    def lines(self) -> Tuple[int, ...]:
        """No line after the change holds it."""
        return ()


class Diff(NamedTuple):
    """A unified diff: {path: changed lines of the new file}, {path: lines
    removed, numbered as in the old file}, {path: the path it had before}
    for the files it changes, and the patches themselves."""

    changed: Dict[str, Set[int]]
    removed: Dict[str, Set[int]]
    old_paths: Dict[str, str]
    patches: PatchSet


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


def _git(root: str, *arguments: str) -> "subprocess.CompletedProcess[bytes]":
    try:
        return subprocess.run(
            ["git", *arguments], cwd=root, capture_output=True, stdin=subprocess.DEVNULL
        )
    except OSError as error:
        raise BaseError(f"cannot run git: {error.strerror}") from None


def _mismatch(patch, lines: List[bytes]) -> Optional[int]:  # type: ignore[no-untyped-def]
    # The first old line number whose line the diff's hunks do not match.
    for hunk in patch:
        for line in hunk:
            if line.is_removed or line.is_context:
                number = line.source_line_no
                text = line.value.encode("utf-8", "surrogateescape").rstrip(b"\n")
                if number > len(lines) or lines[number - 1].rstrip(b"\r") != text.rstrip(b"\r"):
                    return number  # type: ignore[no-any-return]
    return None


def old_texts(diff: Diff, root: str, revision: str) -> Dict[str, bytes]:
    """{path: its text at `revision`} for the C and C++ files the diff
    changes and does not add, read with `git show` in `root` (the diff's
    paths are relative to it); BaseError when `root` is no git work tree,
    git knows no such revision, or a file's removed and context lines are
    not its lines there."""
    inside = _git(root, "rev-parse", "--is-inside-work-tree")
    if inside.returncode or inside.stdout.strip() != b"true":
        raise BaseError(f"--base needs a git work tree: {os.path.abspath(root)} is none")
    commit = revision + "^{commit}"
    known = _git(root, "rev-parse", "--verify", "--quiet", "--end-of-options", commit)
    if known.returncode:
        raise BaseError(f"git knows no revision {revision}")
    texts: Dict[str, bytes] = {}
    for patch in diff.patches:
        path = git_path(patch.path)
        if path not in diff.old_paths:
            continue
        old = diff.old_paths[path]
        shown = _git(root, "show", f"{revision}:./{old}")
        if shown.returncode:
            raise BaseError(f"the diff does not apply to {revision}: it has no {old}")
        line = _mismatch(patch, shown.stdout.split(b"\n"))
        if line is not None:
            raise BaseError(f"the diff does not apply to {revision}: {old} differs at line {line}")
        if is_c_file(path):
            texts[path] = shown.stdout
    return texts


def header_candidates(
    header: str, units: Sequence[Unit], known: Iterable[Unit] = ()
) -> Iterator[Unit]:
    """The units to parse, in turn, for one that includes `header` (a real
    path): first the `known` ones (units known to include it), then those in
    the header's folder, then those named like it (`foo.h`: `foo.c`,
    `foo.cpp`), then the others in the database's order; each once."""
    folder, name = os.path.split(header)
    stem = os.path.splitext(name)[0]
    files = [real_path(unit.file) for unit in units]
    same_folder = [u for u, f in zip(units, files) if os.path.dirname(f) == folder]
    same_stem = [
        u for u, f in zip(units, files) if os.path.splitext(os.path.basename(f))[0] == stem
    ]
    given: Set[int] = set()
    for unit in (*known, *same_folder, *same_stem, *units):
        if id(unit) not in given:
            given.add(id(unit))
            yield unit


class HeaderCoverage:
    """Which changed headers the units parsed so far have answered for: a
    header is done when a unit reads it and each of its changed lines lies
    outside the code the preprocessor skipped in at least one unit that
    reads it. A line skipped in every unit so far may be active in another."""

    def __init__(self, changed: Dict[str, Set[int]], root: str, headers: Iterable[str]) -> None:
        self.changed = changed
        self.paths = _Paths(changed, root)
        self.reached: Set[str] = set()
        self.active: Dict[str, Set[int]] = {header: set() for header in headers}

    def add(self, result: UnitResult) -> None:
        read = {path for path in map(self.paths.of, result.files) if path in self.active}
        if not read:
            return
        self.reached.update(read)
        skipped: Dict[str, List[Tuple[int, int]]] = {path: [] for path in read}
        table = result.table
        for r in table.skipped if table is not None else ():
            path = self.paths.of(table.files[r.file])  # type: ignore[union-attr]
            if path in skipped:
                skipped[path].append((r.first_line, r.last_line))
        for path in read:
            self.active[path].update(
                line
                for line in self.changed[path]
                if not any(first <= line <= last for first, last in skipped[path])
            )

    def skipped_lines(self, header: str) -> List[int]:
        """The header's changed lines skipped in every unit that read it."""
        return sorted(self.changed[header] - self.active[header])

    def pending(self) -> List[str]:
        """The headers that still need a unit: none read them yet, or some
        changed line lies in code every unit so far skipped."""
        return [
            header
            for header in self.active
            if header not in self.reached or self.skipped_lines(header)
        ]


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


def _declarations(
    paths: _Paths, results: Iterable[UnitResult]
) -> Iterator[Declaration]:
    """Every declaration the results hold in the diff's files, named as it
    names them."""
    for result in results:
        table = result.table
        if table is None:
            continue
        files = [paths.of(file) for file in table.files]
        for found in table.declarations:
            path = files[found.file]
            if path is not None:
                name = paths.name(found.name)
                yield Declaration(found.kind, name, path, found.first_line, found.last_line)


def removed_declarations(
    touched: List[Union[Touched, Inactive]],
    diff: Diff,
    root: str,
    new: Sequence[UnitResult],
    old: Sequence[UnitResult],
) -> List[Union[Touched, Inactive, Removed]]:
    """`touched` (the new side's) with what the old side adds: the lines
    the diff removed from each declaration of the base revision (`old`, its
    units parsed) that is still there after the diff (a
    declaration of the same kind and name in the same file, among `new`
    results; an anonymous type's line aside), and a Removed entry for each
    that is not. Entries stay in the
    diff's order of files, then by line, a removed one by its old line."""
    removed = diff.removed
    paths = _Paths(removed, root)
    after: Dict[Tuple[str, str, str], Declaration] = {}
    for declaration in _declarations(paths, new):
        after.setdefault(_identity(declaration), declaration)
    entries: List[Union[Touched, Inactive, Removed]] = []
    lost: Dict[Tuple[str, str, str], Set[int]] = {}
    gone: Dict[Tuple[str, str, str], Declaration] = {}
    for declaration in set(_declarations(paths, old)):
        lines = {
            line
            for line in removed[declaration.file]
            if declaration.first_line <= line <= declaration.last_line
        }
        key = _identity(declaration)
        if lines:
            lost.setdefault(key, set()).update(lines)
            if key not in after:
                gone.setdefault(key, declaration)
    for entry in touched:
        if isinstance(entry, Touched):
            key = _identity(entry.declaration)
            if key in lost:
                entry = entry._replace(removed=tuple(sorted(lost.pop(key))))
        entries.append(entry)
    for key, lines in lost.items():
        if key in gone:
            entries.append(Removed(gone[key], tuple(sorted(lines))))
        else:
            entries.append(Touched(after[key], (), tuple(sorted(lines))))
    order = {path: index for index, path in enumerate(diff.changed)}
    entries.sort(key=lambda entry: (order[_file_of(entry)], _first_line(entry)))
    return entries


def _identity(declaration: Declaration) -> Tuple[str, str, str]:
    # The same declaration on both sides: an anonymous type's name holds a
    # line, which lines removed above it move.
    return declaration.kind, _ANONYMOUS.sub(r"\1\2)", declaration.name), declaration.file


def _file_of(entry: Union[Touched, Inactive, Removed]) -> str:
    return entry.file if isinstance(entry, Inactive) else entry.declaration.file


def _first_line(entry: Union[Touched, Inactive, Removed]) -> int:
    return entry.first_line if isinstance(entry, Inactive) else entry.declaration.first_line


def touched_declarations(
    changed: Dict[str, Set[int]], root: str, results: Iterable[UnitResult]
) -> Tuple[List[Union[Touched, Inactive]], Set[str]]:
    """The declarations touched by `changed` ({path relative to `root`:
    lines}), each once however many units hold it, and the skipped ranges
    holding inactive changed lines, in the order of `changed` and then by
    line; and the paths of `changed` that some unit reads."""
    paths = _Paths(changed, root)
    results = list(results)
    declarations: Set[Declaration] = set()
    skipped: Set[Tuple[str, int, int]] = set()
    active: Set[Tuple[str, int]] = set()  # changed lines holding a node
    reached: Set[str] = set()
    for result in results:
        reached.update(filter(None, map(paths.of, result.files)))
        table = result.table
        if table is None:
            continue
        declarations.update(_declarations(paths, (result,)))
        files = [paths.of(file) for file in table.files]
        ranges = [
            (path, r.first_line, r.last_line)
            for r in table.skipped
            for path in (files[r.file],)
            if path is not None
            and any(r.first_line <= line <= r.last_line for line in changed[path])
        ]
        skipped.update(ranges)
    # A line one unit skipped may hold a node in another.
    held = {
        (path, line)
        for path, first, last in skipped
        for line in changed[path]
        if first <= line <= last
    }
    for result in results if held else ():
        table = result.table
        files = [paths.of(file) for file in table.files] if table is not None else []
        for node in table.nodes if table is not None else ():
            path = files[node.file]
            if path is not None and (path, node.line) in held:
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
