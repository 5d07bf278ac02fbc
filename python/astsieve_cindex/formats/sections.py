"""A unit's output split by accepted file, each part already encoded, and
the choice of the parts a scan writes.

A worker encodes its unit's table (`encode_sections`) into one `Section` per
file: the encoded data, and what the writing process decides on without
reading it: the file's real path, a hash of its contents and a digest of the
section's declarations, lines and nodes (the unit left out). `SectionFilter`
keeps the main file of every unit, and a header once per distinct variant:
a later unit that reaches the same file with the same contents and the same
nodes adds nothing.
"""

from __future__ import annotations

import hashlib
import itertools
import json
import os
from operator import attrgetter
from typing import Any, Dict, List, NamedTuple, Optional, Sequence, Set, Tuple

from ..table import TableDeclaration, TableNode, UnitTable

__all__ = [
    "ENCODINGS",
    "FilePart",
    "Section",
    "SectionFilter",
    "digest",
    "encode_sections",
    "section_digest",
]

# How a worker encodes its sections: JSON Lines text (jsonl.py), or an Arrow
# IPC stream of the nodes table (arrow.py).
ENCODINGS = ("jsonl", "arrow")


class Section(NamedTuple):
    """One accepted file's part of a unit's output."""

    file: str  # as the records name it
    path: str  # its real path: the same file however the unit reached it
    content_hash: str  # of the file's bytes, read after the parse
    digest: str  # of the encoded declarations, lines and nodes, not of the unit
    main: bool  # the unit's main file
    data: bytes


class FilePart(NamedTuple):
    """One file's declarations and nodes of a unit table. `local` maps a
    declaration index of the table to its index among the file's
    declarations; its last item is None, so that NO_DECLARATION (-1) maps
    to None."""

    unit: str
    file: str
    spelling: str  # the file as the unit's arguments reached it
    main: bool
    declarations: List[TableDeclaration]
    nodes: Sequence[TableNode]
    local: List[Optional[int]]


def digest(text: bytes) -> str:
    return hashlib.blake2b(text, digest_size=16).hexdigest()


def section_digest(body: str, part: "FilePart") -> str:
    """The digest of a section's text (JSON, non-ASCII escaped) less the
    names of its own file in it: an anonymous type is named after the file
    as the unit reached it (`(unnamed struct at ../include/a.h:3:1)`, or the
    absolute path), and two spellings of one file make no two variants."""
    for name in (part.file, part.spelling):
        body = body.replace(json.dumps(name)[1:-1], "")
    return digest(body.encode())


def _content_hash(path: str) -> str:
    try:
        with open(path, "rb") as stream:
            return digest(stream.read())
    except OSError:
        return ""


def file_parts(table: UnitTable, unit: str, main_file: str, directory: str) -> List[FilePart]:
    """The table's files that hold nodes, in the table's order, and the main
    file even when it holds none (first, as in the table). The table's
    files were made absolute against `directory`."""
    files = table.files
    inside = os.path.join(directory, "")

    def part(file: str, *rest: Any) -> FilePart:
        spelling = file[len(inside) :] if file.startswith(inside) else file
        return FilePart(unit, file, spelling, *rest)

    per_file: List[List[TableDeclaration]] = [[] for _ in files]
    local: List[Optional[int]] = []
    for declaration in table.declarations:
        in_file = per_file[declaration.file]
        local.append(len(in_file))
        in_file.append(declaration)
    local.append(None)  # local[NO_DECLARATION], as NO_DECLARATION is -1
    nodes: Dict[int, List[TableNode]] = {}
    for index, group in itertools.groupby(table.nodes, key=attrgetter("file")):
        nodes.setdefault(index, []).extend(group)
    parts = [
        part(files[index], files[index] == main_file, per_file[index], found, local)
        for index, found in nodes.items()
    ]
    if not any(found.main for found in parts):
        parts.insert(0, part(main_file, True, [], [], local))
    return parts


def encode_sections(
    table: UnitTable, unit: str, main_file: str, directory: str, encoding: str
) -> Tuple[Section, ...]:
    """The table's sections, one per file, encoded as `encoding` names (one
    of ENCODINGS); `unit` names the unit in the output, `main_file` is the
    main file as the table names it, `directory` the unit's."""
    if encoding == "jsonl":
        from .jsonl import encode_part
    elif encoding == "arrow":
        from .parquet import encode_part
    else:
        raise ValueError(f"unknown encoding {encoding!r}")
    sections = []
    for part in file_parts(table, unit, main_file, directory):
        part_digest, data = encode_part(part)
        path = os.path.realpath(part.file)
        sections.append(
            Section(part.file, path, _content_hash(path), part_digest, part.main, data)
        )
    return tuple(sections)


class SectionFilter:
    """The sections of each unit's result that a scan writes, given the
    results before it: every main file, and the first of each header
    variant (same real path, contents and digest)."""

    def __init__(self) -> None:
        self._seen: Set[Tuple[str, str, str]] = set()

    def new_sections(self, sections: Sequence[Section]) -> List[Section]:
        kept = []
        for section in sections:
            key = (section.path, section.content_hash, section.digest)
            if section.main or key not in self._seen:
                self._seen.add(key)
                kept.append(section)
        return kept
