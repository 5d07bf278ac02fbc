"""Digests of files and of encoded text, made in one place.

A file's digest is the SHA-256 of its content. A scan takes each file a unit
read once per parse (`FileDigests`): the cache checks and stores entries
with it, and the sections name their file's content by it. A text's digest
(a section's encoded nodes) is a short BLAKE2b.
"""

from __future__ import annotations

import hashlib
import os
from typing import Dict, Optional

__all__ = ["FileDigests", "file_digest", "text_digest"]

# Files are read in pieces of this size when their digest is taken.
_CHUNK = 1 << 20


def file_digest(path: str) -> Optional[str]:
    """SHA-256 of a file's content; None when it cannot be read."""
    digest = hashlib.sha256()
    try:
        with open(path, "rb") as stream:
            for piece in iter(lambda: stream.read(_CHUNK), b""):
                digest.update(piece)
    except OSError:
        return None
    return digest.hexdigest()


def text_digest(text: bytes) -> str:
    return hashlib.blake2b(text, digest_size=16).hexdigest()


class FileDigests:
    """The digests of the files one parse read (or the units one process
    checks at once), each file read once however it is named: the first ask
    reads it, later ones are answered from memory, a name asked again
    without resolving it anew."""

    def __init__(self) -> None:
        self._known: Dict[str, Optional[str]] = {}
        self._named: Dict[str, Optional[str]] = {}

    def of(self, path: str) -> Optional[str]:
        if path in self._named:
            return self._named[path]
        real = os.path.realpath(path)
        if real not in self._known:
            self._known[real] = file_digest(real)
        self._named[path] = self._known[real]
        return self._known[real]
