"""A unit table split by accepted file, each file's part to be encoded as
one section, and the digest that says when two parts hold the same nodes."""

from __future__ import annotations

import itertools
import json
import os
from operator import attrgetter
from typing import Any, Dict, List, NamedTuple, Optional, Sequence

from .. import _native
from ..digests import text_digest
from ..table import TableDeclaration, TableNode, UnitTable

__all__ = ["FilePart", "file_parts", "part_digest"]


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


def part_digest(part: FilePart) -> str:
    """The digest of a part's declarations and nodes, whatever format
    encodes them, less the names of its own file in them: an anonymous
    type is named after the file as the unit reached it (`(unnamed struct
    at ../include/a.h:3:1)`, or the absolute path), and two spellings of
    one file make no two variants. Made before encoding, so that a part
    the writing process already has is never encoded."""
    nodes = part.nodes if isinstance(part.nodes, list) else list(part.nodes)
    # json.dumps([declarations, rows]) of each declaration's [kind, name,
    # first_line, last_line] and each node's (line, column, kind, spelling,
    # local declaration), written by the helper.
    body = _native.part_text(part.declarations, nodes, part.local)
    for name in (part.file, part.spelling):
        body = body.replace(json.dumps(name)[1:-1], "")
    return text_digest(body.encode())


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
