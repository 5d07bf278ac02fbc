"""astsieve's three queries over clang.cindex objects.

Each takes a TranslationUnit or a Cursor where the extension takes a handle
or a cursor tuple, and returns the same grouping with Cursor objects in place
of cursor tuples. The main path defaults to the translation unit's main file.

The dicts of a result are plain dicts; each list of Cursors is a read-only
CursorList view (see views.py), and to_lists() gives the plain form.
"""

from __future__ import annotations

import os
from typing import Dict, Optional, Tuple, Union

from clang.cindex import Cursor, TranslationUnit

from . import _native
from .handles import translation_unit_handle
from .loading import load_cindex
from .views import CursorList

__all__ = [
    "MainPath",
    "PathPattern",
    "get_path_to_lineno_to_nodes",
    "get_path_to_nodes",
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


def _arguments(
    unit: TranslationUnit, pattern: PathPattern, main_path: Optional[MainPath]
) -> Tuple[PathPattern, bytes]:
    arguments = (_checked_pattern(pattern), _main_path_bytes(main_path, unit))
    _check_shared_libclang()
    return arguments


def get_path_to_lineno_to_nodes(
    unit: TranslationUnit, pattern: PathPattern = "", main_path: Optional[MainPath] = None
) -> Dict[str, Dict[int, CursorList]]:
    """Every node of `unit` in an accepted file, grouped by file and line.

    A file is accepted when its path is `main_path` byte for byte, or when the
    whole path matches the ECMAScript regular expression `pattern` (an empty
    pattern matches nothing). Raises RuntimeError for an invalid pattern.
    """
    handle = translation_unit_handle(unit)
    return _native.unit_lines(handle, *_arguments(unit, pattern, main_path), unit, Cursor)


def update_path_lineno(
    node: Union[Cursor, TranslationUnit],
    pattern: PathPattern = "",
    main_path: Optional[MainPath] = None,
) -> Dict[str, Dict[int, CursorList]]:
    """The nodes of the subtree of `node`, `node` included, grouped by file
    and line; files are accepted as by get_path_to_lineno_to_nodes. A
    TranslationUnit stands for its own cursor."""
    root = _root(node)
    unit = root._tu
    return _native.subtree_lines(root, *_arguments(unit, pattern, main_path), unit, Cursor)


def get_path_to_nodes(
    node: Union[Cursor, TranslationUnit],
    pattern: PathPattern = "",
    main_path: Optional[MainPath] = None,
) -> Dict[str, CursorList]:
    """The direct children of `node` in accepted files, grouped by file;
    files are accepted as by get_path_to_lineno_to_nodes. A TranslationUnit
    stands for its own cursor."""
    root = _root(node)
    unit = root._tu
    return _native.children_by_path(root, *_arguments(unit, pattern, main_path), unit, Cursor)
