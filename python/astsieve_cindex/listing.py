"""The command line's view of a query result: kind and spelling of every
node, by file and line, as aligned text or as JSON."""

from __future__ import annotations

import json
from typing import Dict, List, Mapping, NamedTuple, Sequence

from clang.cindex import Cursor

from .names import cursor_spelling

__all__ = ["Listing", "Node", "kind_name", "listing", "render_json", "render_text"]


class Node(NamedTuple):
    kind: str
    spelling: str


# File path -> line -> nodes; main file first, then the other files by
# path; lines ascending; the nodes of a line in column order.
Listing = Dict[str, Dict[int, List[Node]]]


def kind_name(cursor: Cursor) -> str:
    try:
        return str(cursor.kind.name)
    except ValueError:  # a kind these bindings do not know
        return f"KIND_{cursor._kind_id}"


def _nodes(cursors: Sequence[Cursor]) -> List[Node]:
    # The sort is stable: nodes in one column keep the walk's order, parents
    # before their children.
    in_columns = sorted(cursors, key=lambda cursor: int(cursor.location.column))
    return [Node(kind_name(cursor), cursor_spelling(cursor)) for cursor in in_columns]


def listing(result: Mapping[str, Mapping[int, Sequence[Cursor]]], main_path: str) -> Listing:
    paths = sorted(result, key=lambda path: (path != main_path, path))
    return {
        path: {line: _nodes(result[path][line]) for line in sorted(result[path])} for path in paths
    }


def _row(nodes: List[Node]) -> str:
    return ", ".join(
        f"{node.kind} {node.spelling}" if node.spelling else node.kind for node in nodes
    )


def render_text(nodes: Listing) -> str:
    """One block per file: its path, then one row per line holding the line
    number and each node's kind and spelling."""
    if not nodes:
        return "no nodes in accepted files\n"
    blocks = []
    for path, lines in nodes.items():
        width = len(str(max(lines)))
        rows = [f"  {line:>{width}}  {_row(line_nodes)}" for line, line_nodes in lines.items()]
        blocks.append("\n".join([path, *rows]) + "\n")
    return "\n".join(blocks)


def render_json(nodes: Listing) -> str:
    """{path: {line: [{"kind": ..., "spelling": ...}, ...]}}, lines as strings."""
    document = {
        path: {
            str(line): [node._asdict() for node in line_nodes] for line, line_nodes in lines.items()
        }
        for path, lines in nodes.items()
    }
    return json.dumps(document, indent=2) + "\n"
