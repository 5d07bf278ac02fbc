"""What each unit of a scan gave, kept between runs in a folder.

An entry belongs to one unit's identity (its file, arguments and directory,
the pattern, the libclang and the output format) and holds the unit's
output together with every file the parse read and a digest of each file's
content. A later scan takes the entry only while every one of those files
still has that content; it parses the unit again otherwise.

The folder is untrusted input: an entry that is missing, truncated,
corrupt, of another format or version, or of another identity is ignored
and rebuilt, never believed. Entries are written to a temporary file and
renamed into place, so a writer killed mid-write leaves no partial entry,
and writers in several processes (local workers, Dask workers on the same
file system) never see each other's half-written files.

An entry is a header line (JSON: format, version, identity, the files with
their digests and the lengths of the parts after it), the value's JSON and
the blobs' bytes one after the other, and a last line with the SHA-256 of
all before it. Nothing in an entry is ever executed or unpickled.
"""

from __future__ import annotations

import contextlib
import hashlib
import json
import os
import tempfile
from typing import Any, Dict, Iterator, List, Mapping, NamedTuple, Optional, Sequence, Tuple

from ..digests import FileDigests

__all__ = ["CacheError", "CacheSize", "ScanCache"]

FORMAT = "astsieve-scan-cache"
# 2: sections name their file's content by its SHA-256, as the entries do.
VERSION = 2
_SUFFIX = ".entry"
_TEMPORARY_PREFIX = ".partial-"


class CacheError(Exception):
    """A cache folder that cannot be used; the message is one line."""


class CacheSize(NamedTuple):
    entries: int
    bytes: int


def _encode(document: Any) -> bytes:
    # ASCII JSON: names that are not UTF-8 travel as escaped surrogates.
    return json.dumps(document, ensure_ascii=True, sort_keys=True, separators=(",", ":")).encode()


def _files_of(header: Any) -> Optional[List[Tuple[str, str]]]:
    files = header.get("files") if isinstance(header, dict) else None
    if not isinstance(files, list):
        return None
    pairs = []
    for pair in files:
        if not (
            isinstance(pair, list)
            and len(pair) == 2
            and all(isinstance(part, str) for part in pair)
        ):
            return None
        pairs.append((pair[0], pair[1]))
    return pairs


class ScanCache:
    """The entries of one cache folder. Creating it makes the folder when it
    does not exist; CacheError when it cannot be made, read or written."""

    def __init__(self, folder: str) -> None:
        self.folder = os.path.abspath(folder)
        self._entries = os.path.join(self.folder, f"v{VERSION}")
        try:
            os.makedirs(self._entries, exist_ok=True)
        except OSError as error:
            raise CacheError(f"cannot use the cache folder {folder}: {error.strerror}") from None
        if not os.access(self._entries, os.R_OK | os.W_OK | os.X_OK):
            raise CacheError(f"cannot use the cache folder {folder}: permission denied")

    def _path(self, identity: Mapping[str, Any]) -> str:
        name = hashlib.sha256(_encode(dict(identity))).hexdigest()
        return os.path.join(self._entries, name + _SUFFIX)

    def _read(self, path: str) -> Optional[Tuple[Dict[str, Any], List[bytes]]]:
        """The header and the parts of a whole, intact entry of this format."""
        try:
            with open(path, "rb") as stream:
                data = stream.read()
        except OSError:
            return None
        body, _, checksum = data[:-1].rpartition(b"\n")
        if not data.endswith(b"\n") or hashlib.sha256(body + b"\n").hexdigest().encode() != checksum:
            return None
        header_text, _, blob_bytes = body.partition(b"\n")
        try:
            header = json.loads(header_text)
        except ValueError:
            return None
        if not (
            isinstance(header, dict)
            and header.get("format") == FORMAT
            and header.get("version") == VERSION
            and _files_of(header) is not None
        ):
            return None
        lengths = header.get("parts")
        if not (
            isinstance(lengths, list)
            and all(isinstance(n, int) and n >= 0 for n in lengths)
            and sum(lengths) == len(blob_bytes)
        ):
            return None
        parts, at = [], 0
        for length in lengths:
            parts.append(blob_bytes[at : at + length])
            at += length
        return header, parts

    def load(
        self, identity: Mapping[str, Any], digests: Optional[FileDigests] = None
    ) -> Optional[Tuple[Any, List[bytes]]]:
        """The value and the blobs stored for `identity`, when its entry is
        intact, is that identity's, and every file it lists still has the
        content it had (by `digests`, when the caller keeps them); None
        otherwise."""
        read = self._read(self._path(identity))
        if read is None:
            return None
        header, parts = read
        if header.get("identity") != json.loads(_encode(dict(identity))) or not parts:
            return None
        files = _files_of(header) or []
        digests = digests or FileDigests()
        if any(digests.of(path) != digest for path, digest in files):
            return None
        try:
            value = json.loads(parts[0])
        except ValueError:
            return None
        return value, parts[1:]

    def store(
        self,
        identity: Mapping[str, Any],
        files: Sequence[str],
        value: Any,
        blobs: Sequence[bytes] = (),
        digests: Optional[FileDigests] = None,
    ) -> None:
        """Keeps `value` (JSON) and `blobs` (bytes) for `identity`, with the
        digests of `files` (from `digests`, the parse's, when the caller
        keeps them, so that no file is read twice). A file that cannot be read makes
        the entry useless, so none is written; nor is one when the folder
        cannot be written (the scan goes on without it)."""
        parts = [_encode(value), *blobs]
        digests = digests or FileDigests()
        listed = []
        for path in files:
            digest = digests.of(path)
            if digest is None:
                return
            listed.append([path, digest])
        header = {
            "format": FORMAT,
            "version": VERSION,
            "identity": dict(identity),
            "files": listed,
            "parts": [len(part) for part in parts],
        }
        body = b"".join([_encode(header), b"\n", *parts, b"\n"])
        data = body + hashlib.sha256(body).hexdigest().encode() + b"\n"
        try:
            descriptor, temporary = tempfile.mkstemp(prefix=_TEMPORARY_PREFIX, dir=self._entries)
        except OSError:
            return
        try:
            with os.fdopen(descriptor, "wb") as stream:
                stream.write(data)
            os.replace(temporary, self._path(identity))
        except OSError:
            with contextlib.suppress(OSError):
                os.unlink(temporary)

    def _entry_paths(self) -> Iterator[str]:
        try:
            names = os.listdir(self._entries)
        except OSError:
            return
        for name in names:
            if name.endswith(_SUFFIX) or name.startswith(_TEMPORARY_PREFIX):
                yield os.path.join(self._entries, name)

    def files_read(self) -> Iterator[Tuple[Dict[str, Any], List[str]]]:
        """(identity, files it read) from the header of every entry: which
        units are known to read which files. A hint only, for choosing what
        to parse: the files may have changed since, and the entry's body is
        not checked."""
        for path in self._entry_paths():
            if not path.endswith(_SUFFIX):
                continue
            try:
                with open(path, "rb") as stream:
                    header = json.loads(stream.readline())
            except (OSError, ValueError):
                continue
            files = _files_of(header)
            identity = header.get("identity") if isinstance(header, dict) else None
            if files is not None and isinstance(identity, dict):
                yield identity, [file for file, _ in files]

    def size(self) -> CacheSize:
        """How many entries the folder holds, and their bytes on disk."""
        entries = total = 0
        for path in self._entry_paths():
            try:
                total += os.stat(path).st_size
            except OSError:
                continue
            entries += path.endswith(_SUFFIX)
        return CacheSize(entries, total)

    def clear(self) -> CacheSize:
        """Removes every entry (and what killed writers left); returns what
        was removed."""
        removed = self.size()
        for path in self._entry_paths():
            with contextlib.suppress(OSError):
                os.unlink(path)
        return removed

