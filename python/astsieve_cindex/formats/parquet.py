"""Sections as Arrow tables, and a scan's output as Parquet (needs pyarrow:
the `parquet` extra).

A worker encodes each section as an Arrow IPC stream of rows of the nodes
table, one row per node with the declaration it lies in spelled out (the
Parquet file's dictionary encoding stores each repeated value once); the
writing process appends the sections it keeps to DIR/nodes.parquet.
"""

from __future__ import annotations

import json
import os
from typing import Any, List, Optional, Sequence, Tuple

import pyarrow  # type: ignore[import-untyped]
import pyarrow.ipc  # type: ignore[import-untyped]
import pyarrow.parquet  # type: ignore[import-untyped]

from .jsonl import FORMAT
from .sections import FilePart, Section, section_digest

__all__ = ["NODES_FILE", "NODES_SCHEMA", "ParquetOutput", "encode_part"]

NODES_FILE = "nodes.parquet"
NODES_SCHEMA = pyarrow.schema(
    [
        ("unit", pyarrow.string()),
        ("file", pyarrow.string()),
        ("main", pyarrow.bool_()),
        ("line", pyarrow.int32()),
        ("column", pyarrow.int32()),
        ("kind", pyarrow.string()),
        ("spelling", pyarrow.string()),
        ("declaration_kind", pyarrow.string()),
        ("declaration_name", pyarrow.string()),
        ("declaration_first_line", pyarrow.int32()),
        ("declaration_last_line", pyarrow.int32()),
    ],
    metadata={"astsieve.format": FORMAT},
)
# Rows gathered before a row group is written: sections are small, and a
# row group per section would make a file slow to query.
_ROW_GROUP_ROWS = 256 * 1024


def _utf8(text: object) -> object:
    # A file name that is not UTF-8 comes as os.fsdecode gives it, with
    # surrogate escapes; Parquet's strings are UTF-8, so its odd bytes are
    # written as \xNN.
    if isinstance(text, str):
        return os.fsencode(text).decode("utf-8", "backslashreplace")
    return text


def _array(values: Sequence[object], kind: Any) -> Any:
    try:
        return pyarrow.array(values, kind)
    except UnicodeEncodeError:
        return pyarrow.array([_utf8(value) for value in values], kind)


def encode_part(part: FilePart) -> Tuple[str, bytes]:
    """The digest of the part's declarations and nodes, and its rows as an
    Arrow IPC stream."""
    nodes, count = part.nodes, len(part.nodes)
    local, declarations = part.local, part.declarations
    own = [local[node.declaration] for node in nodes]
    around = [declarations[index] if index is not None else None for index in own]
    lines = [node.line for node in nodes]
    columns = [node.column for node in nodes]
    kinds = [node.kind for node in nodes]
    spellings = [node.spelling for node in nodes]
    values: List[Sequence[object]] = [
        [part.unit] * count,
        [part.file] * count,
        [part.main] * count,
        lines,
        columns,
        kinds,
        spellings,
        [d.kind if d else None for d in around],
        [d.name if d else None for d in around],
        [d.first_line if d else None for d in around],
        [d.last_line if d else None for d in around],
    ]
    table = pyarrow.Table.from_arrays(
        [_array(column, field.type) for column, field in zip(values, NODES_SCHEMA)],
        schema=NODES_SCHEMA,
    )
    sink = pyarrow.BufferOutputStream()
    with pyarrow.ipc.new_stream(sink, NODES_SCHEMA) as writer:
        writer.write_table(table)
    described = [[d.kind, d.name, d.first_line, d.last_line] for d in declarations]
    rows = list(zip(lines, columns, kinds, spellings, own))
    return section_digest(json.dumps([described, rows]), part), sink.getvalue().to_pybytes()


class ParquetOutput:
    """DIR/nodes.parquet, written from the sections a scan keeps; closing
    writes the rows gathered and the file's footer, so that a scan cut
    short leaves a valid file of the units done."""

    def __init__(self, directory: str) -> None:
        """OSError when DIR cannot be made or the file cannot be written."""
        os.makedirs(directory, exist_ok=True)
        self.path = os.path.join(directory, NODES_FILE)
        self._writer: Optional[Any] = pyarrow.parquet.ParquetWriter(self.path, NODES_SCHEMA)
        self._pending: List[Any] = []
        self._rows = 0

    def write(self, sections: Sequence[Section]) -> None:
        for section in sections:
            table = pyarrow.ipc.open_stream(section.data).read_all()
            self._pending.append(table)
            self._rows += table.num_rows
        if self._rows >= _ROW_GROUP_ROWS:
            self._flush()

    def _flush(self) -> None:
        if self._pending and self._writer is not None:
            self._writer.write_table(pyarrow.concat_tables(self._pending))
        self._pending, self._rows = [], 0

    def close(self) -> None:
        if self._writer is not None:
            self._flush()
            self._writer.close()
            self._writer = None

    def __enter__(self) -> "ParquetOutput":
        return self

    def __exit__(self, *exception: object) -> None:
        self.close()
