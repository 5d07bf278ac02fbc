"""One unit's records by column: its files, its top-level declarations, its
nodes and the lines the preprocessor skipped, each declaration held once
and nodes referring to it by index.

This is the form the workers make and the writers read; `records_of` and
`table_of` turn it into the row form, NodeRecord (records.py names it too),
and back.
"""

from __future__ import annotations

from typing import Dict, List, NamedTuple, Optional, Sequence, Tuple

__all__ = [
    "FORMAT",
    "NO_DECLARATION",
    "Declaration",
    "NodeRecord",
    "SkippedRange",
    "TableDeclaration",
    "TableNode",
    "UnitTable",
    "records_of",
    "table_of",
]

# The version of the records' shape in every output format; 0.x may still
# change.
FORMAT = "0.2"

# The declaration index of a node that lies in no top-level declaration.
NO_DECLARATION = -1


class Declaration(NamedTuple):
    kind: str
    name: str
    file: str
    first_line: int
    last_line: int


class NodeRecord(NamedTuple):
    file: str
    line: int
    column: int
    kind: str
    spelling: str
    declaration: Optional[Declaration]


class TableDeclaration(NamedTuple):
    kind: str
    name: str
    file: int  # index into UnitTable.files
    first_line: int
    last_line: int


class TableNode(NamedTuple):
    file: int  # index into UnitTable.files
    line: int
    column: int
    kind: str
    spelling: str
    declaration: int  # index into UnitTable.declarations, or NO_DECLARATION


class SkippedRange(NamedTuple):
    """Lines the preprocessor skipped, from the directive that began the
    skip (`#if 0`) to the one that ended it (`#endif`)."""

    file: int  # index into UnitTable.files
    first_line: int
    last_line: int


class UnitTable(NamedTuple):
    """Files as the records name them (made absolute against the unit's
    directory); every top-level declaration of those files, those nodes lie
    in first (in order of first use), then the others in record order; nodes
    in record order: main file first, then by path, line and column, parents
    before children within a column; the skipped ranges in record order."""

    files: Sequence[str]
    declarations: Sequence[TableDeclaration]
    nodes: Sequence[TableNode]
    skipped: Sequence[SkippedRange] = ()


def declarations_of(table: UnitTable) -> List[Declaration]:
    """The table's declarations, their files spelled out."""
    files = table.files
    return [
        Declaration(d.kind, d.name, files[d.file], d.first_line, d.last_line)
        for d in table.declarations
    ]


def records_of(table: UnitTable) -> List[NodeRecord]:
    """The row form: one NodeRecord per node, declarations spelled out."""
    files = table.files
    declarations = declarations_of(table)
    return [
        NodeRecord(
            files[node.file],
            node.line,
            node.column,
            node.kind,
            node.spelling,
            declarations[node.declaration] if node.declaration != NO_DECLARATION else None,
        )
        for node in table.nodes
    ]


def table_of(
    records: Sequence[NodeRecord],
    others: Sequence[Declaration] = (),
    skipped: Sequence[Tuple[str, int, int]] = (),
) -> UnitTable:
    """The column form of row records, files and declarations in order of
    first use; then the declarations among `others` that no record lies in,
    and the `skipped` ranges (file, first_line, last_line), in their order,
    each once."""
    file_index: Dict[str, int] = {}
    declaration_index: Dict[Declaration, int] = {}
    declarations: List[TableDeclaration] = []
    nodes: List[TableNode] = []

    def file_of(path: str) -> int:
        return file_index.setdefault(path, len(file_index))

    def declaration_of(found: Declaration) -> int:
        index = declaration_index.setdefault(found, len(declarations))
        if index == len(declarations):
            declarations.append(
                TableDeclaration(
                    found.kind, found.name, file_of(found.file), found.first_line, found.last_line
                )
            )
        return index

    for record in records:
        found: Optional[Declaration] = record.declaration
        index = NO_DECLARATION if found is None else declaration_of(found)
        nodes.append(
            TableNode(
                file_of(record.file), record.line, record.column, record.kind, record.spelling, index
            )
        )
    for found in others:
        declaration_of(found)
    ranges = [SkippedRange(file_of(path), first, last) for path, first, last in skipped]
    files: Tuple[str, ...] = tuple(file_index)
    return UnitTable(files, declarations, nodes, list(dict.fromkeys(ranges)))
