"""The read-only lists of the companion's query results, and their plain form.

A query result is a plain dict whose lists of Cursors are CursorList views:
each holds a stretch of one buffer of libclang cursor records that the whole
result shares, and makes a new clang.cindex.Cursor whenever an item is taken
(by index, slice, iteration or comparison). The Cursors of one record are
equal (==) and hash alike; the view, and every Cursor made from it, keeps
the buffer and the translation unit alive.
"""

from __future__ import annotations

from collections.abc import Sequence as SequenceABC
from typing import Dict, List, Mapping, Sequence, Union, overload

from clang.cindex import Cursor

from ._native import CursorList

__all__ = ["CursorList", "to_lists"]

SequenceABC.register(CursorList)


@overload
def to_lists(result: Mapping[str, Sequence[Cursor]]) -> Dict[str, List[Cursor]]: ...
@overload
def to_lists(
    result: Mapping[str, Mapping[int, Sequence[Cursor]]],
) -> Dict[str, Dict[int, List[Cursor]]]: ...
def to_lists(
    result: Union[Mapping[str, Sequence[Cursor]], Mapping[str, Mapping[int, Sequence[Cursor]]]],
) -> Union[Dict[str, List[Cursor]], Dict[str, Dict[int, List[Cursor]]]]:
    """A query result with plain lists of Cursor objects in place of its
    CursorList views, every Cursor made once; the dicts are copied."""
    plain: Dict[str, object] = {}
    for path, value in result.items():
        if isinstance(value, Mapping):
            plain[path] = {line: list(nodes) for line, nodes in value.items()}
        else:
            plain[path] = list(value)
    return plain  # type: ignore[return-value]
