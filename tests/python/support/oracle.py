"""The three groupings, computed in pure Python over clang.cindex.

An independent reference for the native module: the same acceptance rules
(main path byte for byte, else a full match of the path pattern, rejected
paths remembered for the rest of the call) and the same visiting orders,
written against clang.cindex's own cursor API. Path patterns are compiled
with Python's `re`, so only patterns that mean the same in ECMAScript and in
Python belong in the tests.
"""

import os
import re

from astsieve_cindex import cursor_tuple


def _as_bytes(text):
    return text if isinstance(text, bytes) else text.encode("utf-8")


class FileFilter:
    def __init__(self, path_pattern, main_path):
        pattern = _as_bytes(path_pattern)
        self._pattern = re.compile(pattern) if pattern else None
        self._main_path = _as_bytes(main_path)
        self.rejected = set()

    def classify(self, cursor):
        """(path, line) of an accepted cursor, or None when it is dropped."""
        location = cursor.location
        if location.file is None:
            return None
        path = location.file.name
        raw = os.fsencode(path)
        if raw in self.rejected:
            return None
        if raw == self._main_path or (self._pattern is not None and self._pattern.fullmatch(raw)):
            return path, location.line
        self.rejected.add(raw)
        return None


def walk(roots, file_filter, node=cursor_tuple):
    """{path: {line: [node(cursor)]}} of the accepted cursors below and among
    `roots`, a rejected cursor's subtree left out; `roots` is a stack, its
    last entry visited first."""
    result = {}
    stack = list(roots)
    while stack:
        cursor = stack.pop()
        verdict = file_filter.classify(cursor)
        if verdict is None:
            continue
        path, line = verdict
        result.setdefault(path, {}).setdefault(line, []).append(node(cursor))
        stack.extend(reversed(list(cursor.get_children())))
    return result


def get_path_to_lineno_to_nodes(unit, path_pattern, main_path):
    file_filter = FileFilter(path_pattern, main_path)
    return walk(list(unit.cursor.get_children()), file_filter)


def update_path_lineno(cursor, path_pattern, main_path):
    return walk([cursor], FileFilter(path_pattern, main_path))


def get_path_to_nodes(cursor, path_pattern, main_path):
    file_filter = FileFilter(path_pattern, main_path)
    result = {}
    for child in cursor.get_children():
        verdict = file_filter.classify(child)
        if verdict is not None:
            result.setdefault(verdict[0], []).append(cursor_tuple(child))
    return result
