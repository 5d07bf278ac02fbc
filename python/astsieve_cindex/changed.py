"""The declarations a unified diff touches.

A changed line is a line the diff adds, or, where the diff only removes
lines, the new file's lines on either side of the removal: removals count
through the lines around them. A top-level declaration is touched when one of its file's changed
lines lies in its line range.
"""

from __future__ import annotations

import functools
import os
from typing import Dict, Iterable, List, NamedTuple, Set, Tuple

from unidiff.errors import UnidiffParseError
from unidiff.patch import PatchSet

from .patterns import ecmascript_escape
from .records import Declaration
from .scan import UnitResult

__all__ = ["DiffError", "Touched", "changed_lines", "diff_pattern", "touched_declarations"]

_LINE_TYPES = ("+", "-", " ")


class DiffError(Exception):
    """Text that is no unified diff; one line."""


class Touched(NamedTuple):
    """A declaration (its file named as in the diff) and its changed lines."""

    declaration: Declaration
    lines: Tuple[int, ...]


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
        lines = changed.setdefault(patch.path, set())
        for hunk in patch:
            lines.update(_hunk_lines(hunk))
    return changed


@functools.lru_cache(maxsize=None)
def real_path(path: str) -> str:
    return os.path.realpath(path)


def diff_pattern(paths: Iterable[str]) -> str:
    """A path pattern accepting every file named like one of `paths`; the
    exact file is chosen by its real path afterwards, since libclang spells
    a path as the compiler arguments lead to it: relative, through `..` or
    links."""
    names = sorted({ecmascript_escape(os.path.basename(path)) for path in paths})
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
