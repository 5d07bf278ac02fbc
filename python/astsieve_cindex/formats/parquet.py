"""Sections as Arrow tables, and a scan's output as Parquet (needs pyarrow:
the `parquet` extra).

A worker encodes each section as an Arrow IPC stream of rows of the nodes
table, one row per node with the declaration it lies in spelled out (the
Parquet file's dictionary encoding stores each repeated value once); the
writing process appends the sections it keeps to DIR/nodes.parquet. The
format is registered whether or not pyarrow is installed; without it,
using it is one clear error.
"""

from __future__ import annotations

import functools
import os
from typing import Any, Callable, List, Optional, Sequence

from ..table import FORMAT
from .part import FilePart
from .registry import FormatError, OutputFormat, register
from .sections import Section

__all__ = ["NODES_FILE", "ParquetOutput", "encode_part", "nodes_schema"]

NODES_FILE = "nodes.parquet"
_COLUMNS = (
    ("unit", "string"),
    ("file", "string"),
    ("main", "bool_"),
    ("line", "int32"),
    ("column", "int32"),
    ("kind", "string"),
    ("spelling", "string"),
    ("declaration_kind", "string"),
    ("declaration_name", "string"),
    ("declaration_first_line", "int32"),
    ("declaration_last_line", "int32"),
)
# Rows gathered before a row group is written: sections are small, and a
# row group per section would make a file slow to query.
_ROW_GROUP_ROWS = 256 * 1024


@functools.lru_cache(maxsize=None)
def _pyarrow() -> Any:
    # Imported on first use: it takes a while, and only this format needs it.
    try:
        import pyarrow  # type: ignore[import-untyped]
        import pyarrow.ipc  # type: ignore[import-untyped]
        import pyarrow.parquet  # type: ignore[import-untyped]
    except ImportError:  # the `parquet` extra is not installed
        raise FormatError("--format parquet needs pyarrow: pip install 'astsieve[parquet]'") from None
    return pyarrow


@functools.lru_cache(maxsize=None)
def nodes_schema() -> Any:
    """The nodes table's columns, one row per node."""
    pyarrow = _pyarrow()
    fields = [(name, getattr(pyarrow, kind)()) for name, kind in _COLUMNS]
    return pyarrow.schema(fields, metadata={"astsieve.format": FORMAT})


def _utf8(text: object) -> object:
    # A file name that is not UTF-8 comes as os.fsdecode gives it, with
    # surrogate escapes; Parquet's strings are UTF-8, so its odd bytes are
    # written as \xNN.
    if isinstance(text, str):
        return os.fsencode(text).decode("utf-8", "backslashreplace")
    return text


def _array(values: Sequence[object], kind: Any) -> Any:
    pyarrow = _pyarrow()
    try:
        return pyarrow.array(values, kind)
    except UnicodeEncodeError:
        return pyarrow.array([_utf8(value) for value in values], kind)


def encode_part(part: FilePart) -> bytes:
    """The part's rows as an Arrow IPC stream."""
    pyarrow, schema = _pyarrow(), nodes_schema()
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
        [_array(column, field.type) for column, field in zip(values, schema)],
        schema=schema,
    )
    sink = pyarrow.BufferOutputStream()
    with pyarrow.ipc.new_stream(sink, schema) as writer:
        writer.write_table(table)
    data: bytes = sink.getvalue().to_pybytes()
    return data


class ParquetOutput:
    """DIR/nodes.parquet, written from the sections a scan keeps; closing
    writes the rows gathered and the file's footer, so that a scan cut
    short leaves a valid file of the units done."""

    def __init__(self, directory: str) -> None:
        """OSError when DIR cannot be made or the file cannot be written;
        FormatError without pyarrow."""
        self._pyarrow = _pyarrow()
        os.makedirs(directory, exist_ok=True)
        self.path = os.path.join(directory, NODES_FILE)
        self._writer: Optional[Any] = self._pyarrow.parquet.ParquetWriter(self.path, nodes_schema())
        self._pending: List[Any] = []
        self._rows = 0

    def write(self, sections: Sequence[Section]) -> None:
        for section in sections:
            table = self._pyarrow.ipc.open_stream(section.data).read_all()
            self._pending.append(table)
            self._rows += table.num_rows
        if self._rows >= _ROW_GROUP_ROWS:
            self._flush()

    def _flush(self) -> None:
        if self._pending and self._writer is not None:
            self._writer.write_table(self._pyarrow.concat_tables(self._pending))
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


def _open(folder: Optional[str], write_text: Callable[[str], None]) -> ParquetOutput:
    if folder is None:
        raise FormatError("--format parquet needs --output DIR")
    try:
        return ParquetOutput(folder)
    except OSError as error:
        reason = error.strerror or str(error)
        raise FormatError(f"cannot write to {folder}: {reason}") from None


register(
    OutputFormat(
        "parquet",
        "arrow",
        encode_part,
        _open,
        "Parquet tables in --output DIR (needs pyarrow)",
    )
)
