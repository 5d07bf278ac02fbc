"""Sections as JSON Lines: one JSON object per accepted file of a unit,
written to standard output.

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
from json.encoder import encode_basestring_ascii as _quote
from operator import attrgetter
from typing import Callable, Optional, Sequence

from ..table import FORMAT
from .part import FilePart
from .registry import FormatError, OutputFormat, register
from .sections import Section

__all__ = ["JsonLinesOutput", "encode_part"]

_encode = json.JSONEncoder(separators=(",", ":")).encode
_NODE = '{"column":%d,"kind":%s,"spelling":%s,"declaration":%s}'


def encode_part(part: FilePart) -> bytes:
    """The part's JSON line.

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
    return (head[:-1] + "," + body + "}\n").encode()


class JsonLinesOutput:
    """Sections written to standard output as they are (ASCII: JSON escapes
    the rest), each unit's at once."""

    def __init__(self, write_text: Callable[[str], None]) -> None:
        self._write_text = write_text

    def write(self, sections: Sequence[Section]) -> None:
        self._write_text(b"".join(section.data for section in sections).decode("ascii"))

    def close(self) -> None:
        pass


def _open(folder: Optional[str], write_text: Callable[[str], None]) -> JsonLinesOutput:
    if folder is not None:
        raise FormatError("--output DIR is for --format parquet; JSON Lines go to stdout")
    return JsonLinesOutput(write_text)


register(
    OutputFormat("jsonl", "jsonl", encode_part, _open, "JSON Lines on stdout (the default)")
)
