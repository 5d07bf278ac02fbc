"""Names that are not UTF-8, as Python's own file-name functions give them.

A file name on Linux is bytes. Python gives one that is not UTF-8 as a str
with surrogate escapes (os.fsdecode: byte 0xff becomes U+DCFF), and its json
writes such a str as "\\udcff". clang.cindex decodes everything libclang
hands back as strict UTF-8, so the name of such a file, the spelling of an
`#include` of it, or a compilation database entry written by Python's json
raises UnicodeDecodeError; and it encodes every str it passes as strict
UTF-8, so such a name cannot reach libclang as a str. These helpers give
libclang bytes and take back what it says as os.fsdecode would.
"""

from __future__ import annotations

import os
from typing import Callable, List, Optional, Sequence

from clang.cindex import Cursor

__all__ = ["cursor_spelling", "file_name_bytes", "name_text", "undecodable_name"]


def _decoded(error: UnicodeDecodeError) -> str:
    raw = error.object
    if not isinstance(raw, bytes):
        raise error
    try:
        return raw.decode("utf-8", "surrogatepass")
    except UnicodeDecodeError:
        return raw.decode("utf-8", "surrogateescape")


def name_text(read: Callable[[], str]) -> str:
    """What `read()` gives, a str clang.cindex decoded from libclang; where
    the bytes are not UTF-8, the str os.fsdecode makes of them. Surrogates
    libclang encoded as it read them from a database's "\\udcXX" escapes
    come back as they were written."""
    try:
        return read()
    except UnicodeDecodeError as error:
        return _decoded(error)


def cursor_spelling(cursor: Cursor) -> str:
    """cursor.spelling, decoded as name_text() does (an `#include` of a
    file whose name is not UTF-8 spells that name)."""
    return name_text(lambda: str(cursor.spelling))


def file_name_bytes(names: Sequence[str]) -> Optional[List[bytes]]:
    """`names` as the bytes of the file system (os.fsencode), for libclang;
    None when one holds a surrogate no file name can have."""
    try:
        return [os.fsencode(name) for name in names]
    except UnicodeEncodeError:
        return None


def undecodable_name(error: UnicodeDecodeError) -> str:
    """The name that `error` failed on, for a message."""
    raw = error.object
    return os.fsdecode(bytes(raw)) if isinstance(raw, (bytes, bytearray, memoryview)) else "?"
