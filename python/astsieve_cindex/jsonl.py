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
from typing import Dict, List, Tuple

from .sections import FilePart, digest

__all__ = ["FORMAT", "encode_part"]

# The version of the record shape; 0.x may still change.
FORMAT = "0.2"

_encode = json.JSONEncoder(separators=(",", ":")).encode


def encode_part(part: FilePart) -> Tuple[str, bytes]:
    """The digest of the part's declarations and lines, and its JSON line."""
    local = part.local
    declarations = [
        {"kind": d.kind, "name": d.name, "first_line": d.first_line, "last_line": d.last_line}
        for d in part.declarations
    ]
    lines: List[Dict[str, object]] = [
        {
            "line": line,
            "nodes": [
                {
                    "column": node.column,
                    "kind": node.kind,
                    "spelling": node.spelling,
                    "declaration": local[node.declaration],
                }
                for node in nodes
            ],
        }
        for line, nodes in itertools.groupby(part.nodes, key=attrgetter("line"))
    ]
    body = _encode({"declarations": declarations, "lines": lines})
    head = _encode({"format": FORMAT, "unit": part.unit, "file": part.file, "main": part.main})
    return digest(body.encode()), (head[:-1] + "," + body[1:] + "\n").encode()
