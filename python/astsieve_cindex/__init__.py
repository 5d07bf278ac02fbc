"""Use astsieve together with clang.cindex in one process.

load_cindex() makes clang.cindex load its libclang, the one astsieve then uses;
the queries take and return clang.cindex objects; the conversions turn them
into astsieve's raw handles and cursor tuples and back.
"""

from __future__ import annotations

from .handles import CursorTuple, cursor_from_tuple, cursor_tuple, translation_unit_handle
from .loading import LibclangMismatchError, libclang_file, load_cindex
from .queries import (
    MainPath,
    PathPattern,
    get_path_to_lineno_to_nodes,
    get_path_to_nodes,
    update_path_lineno,
)

__all__ = [
    "CursorTuple",
    "LibclangMismatchError",
    "MainPath",
    "PathPattern",
    "cursor_from_tuple",
    "cursor_tuple",
    "get_path_to_lineno_to_nodes",
    "get_path_to_nodes",
    "libclang_file",
    "load_cindex",
    "translation_unit_handle",
    "update_path_lineno",
]
