"""The grouping the way a clang.cindex user writes it today, in pure Python.

Same walks, same file test and same result shapes as astsieve's three
functions, with clang.cindex's Cursor objects in place of cursor tuples.
"""

from __future__ import annotations

import re


class FileTest:
    """Accepts the main path and paths that fully match the pattern;
    remembers rejected paths."""

    def __init__(self, pattern: str, main_path: str):
        self._match = re.compile(pattern).fullmatch if pattern else None
        self._main_path = main_path
        self._rejected: set[str] = set()

    def accepted_path(self, cursor):
        """The cursor's file name if its file is accepted, else None."""
        file = cursor.location.file
        if file is None:
            return None
        path = file.name
        if path in self._rejected:
            return None
        if path == self._main_path or (self._match is not None and self._match(path)):
            return path
        self._rejected.add(path)
        return None


def _walk(stack: list, test: FileTest) -> dict:
    result: dict = {}
    while stack:
        cursor = stack.pop()
        path = test.accepted_path(cursor)
        if path is None:
            continue
        result.setdefault(path, {}).setdefault(cursor.location.line, []).append(cursor)
        stack.extend(reversed(list(cursor.get_children())))
    return result


def path_to_lineno_to_nodes(unit, pattern: str, main_path: str) -> dict:
    """The whole unit: top-level declarations last-first, each in pre-order."""
    return _walk(list(unit.cursor.get_children()), FileTest(pattern, main_path))


def update_path_lineno(cursor, pattern: str, main_path: str) -> dict:
    """The subtree of one cursor, the cursor first."""
    return _walk([cursor], FileTest(pattern, main_path))


def path_to_nodes(cursor, pattern: str, main_path: str) -> dict:
    """The direct children of one cursor, by file."""
    test = FileTest(pattern, main_path)
    result: dict = {}
    for child in cursor.get_children():
        path = test.accepted_path(child)
        if path is not None:
            result.setdefault(path, []).append(child)
    return result
