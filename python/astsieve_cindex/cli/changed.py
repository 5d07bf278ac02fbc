"""python -m astsieve_cindex changed: the declarations a unified diff
touches, in the files a project's compilation database reaches."""

from __future__ import annotations

import argparse
import json
import os
import sys
from typing import List, Sequence

from ..changed import (
    DiffError,
    Touched,
    changed_lines,
    diff_pattern,
    real_path,
    touched_declarations,
)
from .errors import PROG, CommandError, report
from .options import Commands, project_parser, project_units
from .running import run_units
from ..project import Unit
from ..scan import UnitResult

__all__ = ["add_parser", "run"]

COMMAND = "changed"


def add_parser(commands: Commands) -> None:
    parser = project_parser(
        commands,
        COMMAND,
        "the declarations a unified diff touches, in a project's files",
        "-p BUILD [DIFF] [--root DIR] [--json] [--jobs N] [--resource-dir DIR]",
        "Read a unified diff (DIFF, or stdin) and list the top-level declarations its changed "
        "lines touch, in every file the compilation database reaches, as a unit or as a "
        "header: kind, name, file and line range. Lines a diff removes count through the "
        "lines around them.",
        f"Example: git diff | {PROG} {COMMAND} -p build.",
    )
    parser.add_argument("diff", nargs="?", metavar="DIFF", help="the diff file; - or none: stdin")
    parser.add_argument(
        "--root",
        metavar="DIR",
        default=".",
        help="the folder the diff's paths are relative to (default: the current one; "
        "for git diff, the repository's top folder)",
    )
    parser.add_argument(
        "--json", action="store_true", help="one JSON object per declaration, one per line"
    )


def _read_diff(name: str) -> str:
    if name == "-":
        if sys.stdin.isatty():
            raise CommandError("no diff: give a diff file or pipe one in (git diff | ...)")
        return sys.stdin.buffer.read().decode("utf-8", errors="replace")
    try:
        with open(name, encoding="utf-8", errors="replace") as stream:
            return stream.read()
    except OSError as error:
        raise CommandError(f"cannot read the diff {name}: {error.strerror}") from None


def _units_to_parse(units: List[Unit], changed: Sequence[str], root: str) -> List[Unit]:
    # A changed header can be read by any unit; changed sources alone need
    # only their own units.
    wanted = {real_path(os.path.join(root, path)) for path in changed}
    own = [unit for unit in units if real_path(unit.file) in wanted]
    return own if {real_path(unit.file) for unit in own} == wanted else units


def _text(touched: Touched) -> str:
    declaration = touched.declaration
    lines = ", ".join(map(str, touched.lines))
    return (
        f"{declaration.file}:{declaration.first_line}-{declaration.last_line}: "
        f"{declaration.kind} {declaration.name} (changed lines {lines})\n"
    )


def _json(touched: Touched) -> str:
    return (
        json.dumps({**touched.declaration._asdict(), "changed_lines": list(touched.lines)}) + "\n"
    )


def run(arguments: argparse.Namespace, compiler_arguments: Sequence[str]) -> int:
    if arguments.build is None:
        raise CommandError("give the build folder with -p BUILD")
    try:
        changed = changed_lines(_read_diff(arguments.diff or "-"))
    except DiffError as error:
        raise CommandError(str(error)) from None
    empty = "" if arguments.json else "no declarations touched\n"
    if not changed:  # nothing, or only files deleted
        sys.stdout.write(empty)
        return 0
    project = project_units(COMMAND, arguments, [], compiler_arguments)
    units = _units_to_parse(project.units, list(changed), arguments.root)
    results: List[UnitResult] = []
    outcome = run_units(
        COMMAND,
        project._replace(units=units),
        diff_pattern(changed),
        arguments.jobs,
        results.append,
    )
    touched, reached = touched_declarations(changed, arguments.root, results)
    outside = [path for path in changed if path not in reached]
    if len(outside) == len(changed) and not outcome.failed:
        raise CommandError(
            "the diff changes no file the compilation database reaches: " + ", ".join(outside)
        )
    if outside:
        report(
            COMMAND, "note", "not reached by the compilation database: " + ", ".join(outside)
        )
    render = _json if arguments.json else _text
    sys.stdout.write("".join(map(render, touched)) or empty)
    sys.stdout.flush()
    return 1 if outcome.failed else 0
