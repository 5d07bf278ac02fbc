"""python -m astsieve_cindex scan: every node of a project's units as JSON
Lines, one record per file and line, written as each unit finishes."""

from __future__ import annotations

import argparse
import json
from itertools import groupby
from typing import Dict, Sequence

from .errors import write_output
from .options import Commands, check_pattern, project_parser, project_units
from .running import run_units
from ..records import NodeRecord
from ..scan import UnitResult

__all__ = ["add_parser", "json_lines", "run"]

COMMAND = "scan"


def add_parser(commands: Commands) -> None:
    parser = project_parser(
        commands,
        COMMAND,
        "every node of a project's units as JSON Lines",
        "[-p BUILD] [--pattern RE] [--jobs N] [--timeout SECONDS] [--resource-dir DIR] [--verbose] "
        "[FILE ...]",
        "Parse the units of a compilation database (all, or those of the FILEs), or the FILEs "
        "alone, in worker processes, and write every node of accepted files as JSON Lines: one "
        "record per file and line, as each unit finishes. A file is accepted when it is the "
        "unit's main file or its whole path matches RE.",
        "A FILE that the database does not list is parsed with the arguments after -- alone, "
        "in the current directory. Exit status 1 when a unit failed (each is reported in one "
        "line on stderr).",
    )
    parser.add_argument("files", nargs="*", metavar="FILE", help="source files to parse")
    parser.add_argument(
        "--pattern", metavar="RE", default="", help="ECMAScript regular expression for headers"
    )


def _node(record: NodeRecord) -> Dict[str, object]:
    declaration = record.declaration
    return {
        "column": record.column,
        "kind": record.kind,
        "spelling": record.spelling,
        "declaration": declaration._asdict() if declaration else None,
    }


def json_lines(result: UnitResult) -> str:
    """One JSON object per file and line of the unit, each on a line:
    {"unit", "file", "line", "nodes": [{"column", "kind", "spelling",
    "declaration": {"kind", "name", "file", "first_line", "last_line"} or null}]}."""
    rows = []
    for (file, line), records in groupby(result.records, lambda record: (record.file, record.line)):
        document = {"unit": result.unit.file, "file": file, "line": line}
        document["nodes"] = [_node(record) for record in records]
        rows.append(json.dumps(document) + "\n")
    return "".join(rows)


def _write(result: UnitResult) -> None:
    write_output(json_lines(result))


def run(arguments: argparse.Namespace, compiler_arguments: Sequence[str]) -> int:
    check_pattern(arguments.pattern)
    project = project_units(COMMAND, arguments, arguments.files, compiler_arguments)
    outcome = run_units(
        COMMAND,
        project,
        arguments.pattern,
        arguments.jobs,
        arguments.timeout,
        _write,
        arguments.verbose,
    )
    return 1 if outcome.failed else 0
