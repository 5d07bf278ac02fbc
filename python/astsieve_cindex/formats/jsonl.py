"""Sections as JSON Lines: one JSON object per accepted file of a unit.

    {"format": "0.2", "unit": PATH, "file": PATH, "main": BOOL,
     "declarations": [{"kind", "name", "first_line", "last_line"}, ...],
     "lines": [{"line": N, "nodes": [{"column", "kind", "spelling",
                                      "declaration": INDEX or null}, ...]}, ...]}

A node's "declaration" indexes the record's own "declarations": the
top-level declarations of that file, each written once.
"""

from __future__ import annotations

import itertools
import json
from operator import attrgetter
from json.encoder import encode_basestring_ascii as _quote
from typing import Tuple

from .sections import FilePart, section_digest

__all__ = ["FORMAT", "encode_part"]

# The version of the record shape; 0.x may still change.
FORMAT = "0.2"

_encode = json.JSONEncoder(separators=(",", ":")).encode
_NODE = '{"column":%d,"kind":%s,"spelling":%s,"declaration":%s}'


def encode_part(part: FilePart) -> Tuple[str, bytes]:
    """The digest of the part's declarations and lines, and its JSON line.

    The nodes, most of the text, are formatted directly rather than built
    as dicts for the encoder: it takes half the time."""
    local = ["null" if index is None else str(index) for index in part.local]
    declarations = _encode(
        [
            {"kind": d.kind, "name": d.name, "first_line": d.first_line, "last_line": d.last_line}
            for d in part.declarations
        ]
    )
    lines = ",".join(
        '{"line":%d,"nodes":[%s]}'
        % (
            line,
            ",".join(
                _NODE
                % (node.column, _quote(node.kind), _quote(node.spelling), local[node.declaration])
                for node in nodes
            ),
        )
        for line, nodes in itertools.groupby(part.nodes, key=attrgetter("line"))
    )
    body = '"declarations":%s,"lines":[%s]' % (declarations, lines)
    head = _encode({"format": FORMAT, "unit": part.unit, "file": part.file, "main": part.main})
    return section_digest(body, part), (head[:-1] + "," + body + "}\n").encode()
