"""astsieve's three queries over clang.cindex objects.

Each takes a TranslationUnit or a Cursor where the extension takes a handle
or a cursor tuple, and returns the same grouping with Cursor objects in place
of cursor tuples. The main path defaults to the translation unit's main file.

The dicts of a result are plain dicts; each list of Cursors is a read-only
CursorList view (see views.py), and to_lists() gives the plain form.
"""

from __future__ import annotations

import os
from typing import Dict, Optional, Union

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

# The argument checks are the helper's, in C, so that a query on a small
# subtree costs little more than the engine's walk; load_cindex() runs before
# the first query and must succeed once.
_native.bind(Cursor, TranslationUnit, load_cindex)


def get_path_to_lineno_to_nodes(
    unit: TranslationUnit, pattern: PathPattern = "", main_path: Optional[MainPath] = None
) -> Dict[str, Dict[int, CursorList]]:
    """Every node of `unit` in an accepted file, grouped by file and line.

    A file is accepted when its path is `main_path` byte for byte, or when the
    whole path matches the ECMAScript regular expression `pattern` (an empty
    pattern matches nothing). Raises RuntimeError for an invalid pattern.

    The lists are read-only CursorList views that make a new Cursor each
    time an item is taken; to_lists() turns the result into plain lists.
    """
    return _native.unit_lines(translation_unit_handle(unit), unit, pattern, main_path)


def update_path_lineno(
    node: Union[Cursor, TranslationUnit],
    pattern: PathPattern = "",
    main_path: Optional[MainPath] = None,
) -> Dict[str, Dict[int, CursorList]]:
    """The nodes of the subtree of `node`, `node` included, grouped by file
    and line; files are accepted as by get_path_to_lineno_to_nodes. A
    TranslationUnit stands for its own cursor. The lists are read-only
    CursorList views, as in get_path_to_lineno_to_nodes."""
    return _native.subtree_lines(node, pattern, main_path)


def get_path_to_nodes(
    node: Union[Cursor, TranslationUnit],
    pattern: PathPattern = "",
    main_path: Optional[MainPath] = None,
) -> Dict[str, CursorList]:
    """The direct children of `node` in accepted files, grouped by file;
    files are accepted as by get_path_to_lineno_to_nodes. A TranslationUnit
    stands for its own cursor. The lists are read-only CursorList views, as
    in get_path_to_lineno_to_nodes."""
    return _native.children_by_path(node, pattern, main_path)
