"""astsieve's three queries over clang.cindex objects.

Each takes a TranslationUnit or a Cursor where the extension takes a handle
or a cursor tuple, and returns the same grouping with Cursor objects in place
of cursor tuples. The main path defaults to the translation unit's main file.
"""

from __future__ import annotations

import contextlib
import gc
import os
from typing import Dict, Iterator, List, NamedTuple, Optional, Union

import astsieve
from clang.cindex import Cursor, TranslationUnit

from .handles import CursorTuple, cursor_from_tuple, cursor_tuple, translation_unit_handle
from .loading import load_cindex

__all__ = [
    "MainPath",
    "PathPattern",
    "ecmascript_escape",
    "get_path_to_lineno_to_nodes",
    "get_path_to_nodes",
    "pattern_error",
    "update_path_lineno",
]

PathPattern = Union[str, bytes]
MainPath = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]

_shared_libclang_checked = False


def _check_shared_libclang() -> None:
    # Once cindex has loaded the right file it cannot load another one, so
    # one successful check holds for the life of the process.
    global _shared_libclang_checked
    if not _shared_libclang_checked:
        load_cindex()
        _shared_libclang_checked = True


def _checked_pattern(pattern: PathPattern) -> PathPattern:
    if not isinstance(pattern, (str, bytes)):
        raise TypeError(f"the path pattern must be str or bytes, got {type(pattern).__name__}")
    return pattern


_ECMASCRIPT_SYNTAX_CHARACTERS = set("^$\\.*+?()[]{}|")


def ecmascript_escape(text: str) -> str:
    """`text` as a pattern that matches it literally."""
    return "".join("\\" + char if char in _ECMASCRIPT_SYNTAX_CHARACTERS else char for char in text)


def pattern_error(pattern: PathPattern) -> Optional[str]:
    """Why the engine refuses `pattern`, or None when it compiles."""
    # The engine compiles the pattern before it looks at the handle, so a
    # call on no translation unit tests the pattern alone.
    try:
        astsieve.get_path_to_lineno_to_nodes(0, _checked_pattern(pattern), "")
    except RuntimeError as error:
        return str(error)
    return None


def _main_path_bytes(main_path: Optional[MainPath], unit: TranslationUnit) -> bytes:
    if main_path is None:
        return os.fsencode(unit.spelling)
    if not isinstance(main_path, (str, bytes, os.PathLike)):
        raise TypeError(
            f"the main path must be str, bytes or os.PathLike, got {type(main_path).__name__}"
        )
    return os.fsencode(main_path)


def _root(node: Union[Cursor, TranslationUnit]) -> Cursor:
    if isinstance(node, TranslationUnit):
        return node.cursor
    if not isinstance(node, Cursor):
        raise TypeError(
            f"expected a clang.cindex.Cursor or TranslationUnit, got {type(node).__name__}"
        )
    if not isinstance(getattr(node, "_tu", None), TranslationUnit):
        raise ValueError("the cursor belongs to no translation unit")
    return node


class _Call(NamedTuple):
    """The extension's arguments for one query, and the unit of its nodes."""

    unit: TranslationUnit
    pattern: PathPattern
    main_path: bytes


def _call(unit: TranslationUnit, pattern: PathPattern, main_path: Optional[MainPath]) -> _Call:
    call = _Call(unit, _checked_pattern(pattern), _main_path_bytes(main_path, unit))
    _check_shared_libclang()
    return call


@contextlib.contextmanager
def _collector_paused() -> Iterator[None]:
    """Keeps Python's cyclic collector from running while a result is built.

    A result holds two tracked objects per node (a tuple and its list), then
    a Cursor per node here; none can form a cycle, yet on a large unit the
    collector would otherwise run hundreds of times over them and cost more
    than the walk itself. The collector's state is restored on every exit.
    """
    was_enabled = gc.isenabled()
    gc.disable()
    try:
        yield
    finally:
        if was_enabled:
            gc.enable()


def _cursors(nodes: List[CursorTuple], unit: TranslationUnit) -> List[Cursor]:
    return [cursor_from_tuple(node, unit) for node in nodes]


def _by_path_and_line(
    result: Dict[str, Dict[int, List[CursorTuple]]], unit: TranslationUnit
) -> Dict[str, Dict[int, List[Cursor]]]:
    return {
        path: {line: _cursors(nodes, unit) for line, nodes in lines.items()}
        for path, lines in result.items()
    }


def get_path_to_lineno_to_nodes(
    unit: TranslationUnit, pattern: PathPattern = "", main_path: Optional[MainPath] = None
) -> Dict[str, Dict[int, List[Cursor]]]:
    """Every node of `unit` in an accepted file, grouped by file and line.

    A file is accepted when its path is `main_path` byte for byte, or when the
    whole path matches the ECMAScript regular expression `pattern` (an empty
    pattern matches nothing). Raises RuntimeError for an invalid pattern.
    """
    handle = translation_unit_handle(unit)
    call = _call(unit, pattern, main_path)
    with _collector_paused():
        result = astsieve.get_path_to_lineno_to_nodes(handle, call.pattern, call.main_path)
        return _by_path_and_line(result, unit)


def update_path_lineno(
    node: Union[Cursor, TranslationUnit],
    pattern: PathPattern = "",
    main_path: Optional[MainPath] = None,
) -> Dict[str, Dict[int, List[Cursor]]]:
    """The nodes of the subtree of `node`, `node` included, grouped by file
    and line; files are accepted as by get_path_to_lineno_to_nodes. A
    TranslationUnit stands for its own cursor."""
    root = _root(node)
    call = _call(root.translation_unit, pattern, main_path)
    with _collector_paused():
        result = astsieve.update_path_lineno(cursor_tuple(root), call.pattern, call.main_path)
        return _by_path_and_line(result, call.unit)


def get_path_to_nodes(
    node: Union[Cursor, TranslationUnit],
    pattern: PathPattern = "",
    main_path: Optional[MainPath] = None,
) -> Dict[str, List[Cursor]]:
    """The direct children of `node` in accepted files, grouped by file;
    files are accepted as by get_path_to_lineno_to_nodes. A TranslationUnit
    stands for its own cursor."""
    root = _root(node)
    call = _call(root.translation_unit, pattern, main_path)
    with _collector_paused():
        result = astsieve.get_path_to_nodes(cursor_tuple(root), call.pattern, call.main_path)
        return {path: _cursors(nodes, call.unit) for path, nodes in result.items()}
