"""One unit's records by column: its files, its top-level declarations and
its nodes, each declaration held once and referred to by index.

This is the form the workers make and the writers read; `records_of` and
`table_of` turn it into the row form, NodeRecord (records.py names it too),
and back.
"""

from __future__ import annotations

from typing import Dict, List, NamedTuple, Optional, Sequence, Tuple

__all__ = [
    "NO_DECLARATION",
    "Declaration",
    "NodeRecord",
    "TableDeclaration",
    "TableNode",
    "UnitTable",
    "records_of",
    "table_of",
]

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


class UnitTable(NamedTuple):
    """Files as the records name them (made absolute against the unit's
    directory); nodes in record order: main file first, then by path, line
    and column, parents before children within a column."""

    files: Sequence[str]
    declarations: Sequence[TableDeclaration]
    nodes: Sequence[TableNode]


def records_of(table: UnitTable) -> List[NodeRecord]:
    """The row form: one NodeRecord per node, declarations spelled out."""
    files = table.files
    declarations = [
        Declaration(d.kind, d.name, files[d.file], d.first_line, d.last_line)
        for d in table.declarations
    ]
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


def table_of(records: Sequence[NodeRecord]) -> UnitTable:
    """The column form of row records, files and declarations in order of
    first use."""
    file_index: Dict[str, int] = {}
    declaration_index: Dict[Declaration, int] = {}
    declarations: List[TableDeclaration] = []
    nodes: List[TableNode] = []

    def file_of(path: str) -> int:
        return file_index.setdefault(path, len(file_index))

    for record in records:
        found: Optional[Declaration] = record.declaration
        index = NO_DECLARATION
        if found is not None:
            index = declaration_index.get(found, len(declarations))
            if index == len(declarations):
                declaration_index[found] = index
                declarations.append(
                    TableDeclaration(
                        found.kind, found.name, file_of(found.file), found.first_line, found.last_line
                    )
                )
        nodes.append(
            TableNode(
                file_of(record.file), record.line, record.column, record.kind, record.spelling, index
            )
        )
    files: Tuple[str, ...] = tuple(file_index)
    return UnitTable(files, declarations, nodes)
