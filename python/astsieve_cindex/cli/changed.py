"""python -m astsieve_cindex changed: the declarations a unified diff
touches, in the files a project's compilation database reaches."""

from __future__ import annotations

import argparse
import json
import os
import sys
from typing import List, NamedTuple, Sequence, Union

from ..changed import (
    DiffError,
    Inactive,
    Touched,
    changed_lines,
    diff_pattern,
    is_c_file,
    real_path,
    touched_declarations,
)
from .errors import PROG, CommandError, report, write_output
from .options import Commands, cache_folder, project_parser, project_units
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
        "-p BUILD [DIFF] [--root DIR] [--json] [--jobs N] [--timeout SECONDS] [--resource-dir DIR] "
        "[--verbose] [--cache DIR]",
        "Read a unified diff (DIFF, or stdin) and list the top-level declarations its changed "
        "lines touch, in every file the compilation database reaches, as a unit or as a "
        "header: kind, name, file and line range; and changed lines in code the preprocessor "
        "skipped (#if 0), with the directives' line range. Lines a diff removes count through "
        "the lines around them.",
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
        "--json",
        action="store_true",
        help="one JSON object per declaration or skipped range, one per line",
    )


def _read_diff(name: str) -> str:
    # Bytes that are not UTF-8 stay as surrogates: a path spelled so is the
    # path git quotes with octal bytes.
    if name == "-":
        if sys.stdin.isatty():
            raise CommandError("no diff: give a diff file or pipe one in (git diff | ...)")
        return sys.stdin.buffer.read().decode("utf-8", errors="surrogateescape")
    try:
        with open(name, encoding="utf-8", errors="surrogateescape") as stream:
            return stream.read()
    except OSError as error:
        raise CommandError(f"cannot read the diff {name}: {error.strerror}") from None


class _Paths(NamedTuple):
    """The diff's paths by what can read them, known before any parse."""

    own: List[str]  # the source of a unit
    included: List[str]  # another C or C++ file, which any unit may include
    other: List[str]  # no C or C++ file by its name; a unit may still include it


def _sort_paths(changed: Sequence[str], root: str, units: List[Unit]) -> _Paths:
    sources = {real_path(unit.file) for unit in units}
    paths = _Paths([], [], [])
    for path in changed:
        real = real_path(os.path.join(root, path))
        if real in sources:
            paths.own.append(path)
        elif not is_c_file(path):
            paths.other.append(path)
        elif os.path.isfile(real):  # none is read from under the wrong --root
            paths.included.append(path)
    return paths


def _units_to_parse(units: List[Unit], paths: _Paths, root: str) -> List[Unit]:
    # A changed header can be read by any unit; changed sources alone need
    # only their own units, and other files none.
    if paths.included:
        return units
    wanted = {real_path(os.path.join(root, path)) for path in paths.own}
    return [unit for unit in units if real_path(unit.file) in wanted]


def _printable(text: str) -> str:
    # Bytes of a path that are not UTF-8 shown as \xNN.
    return text.encode("utf-8", "surrogateescape").decode("utf-8", "backslashreplace")


def _listed(paths: Sequence[str]) -> str:
    return _printable(", ".join(paths))


def _text(touched: Union[Touched, Inactive]) -> str:
    lines = ", ".join(map(str, touched.lines))
    if isinstance(touched, Inactive):
        return (
            f"{_printable(touched.file)}:{touched.first_line}-{touched.last_line}: inactive: "
            "skipped by "
            f"the preprocessor (changed lines {lines})\n"
        )
    declaration = touched.declaration
    return (
        f"{_printable(declaration.file)}:{declaration.first_line}-{declaration.last_line}: "
        f"{declaration.kind} {declaration.name} (changed lines {lines})\n"
    )


def _json(touched: Union[Touched, Inactive]) -> str:
    if isinstance(touched, Inactive):
        fields = {"change": "inactive", **touched._asdict()}
        del fields["lines"]
    else:
        fields = {"change": "declaration", **touched.declaration._asdict()}
    return json.dumps({**fields, "changed_lines": list(touched.lines)}) + "\n"


def _nothing(arguments: argparse.Namespace, message: str) -> int:
    # --json writes records alone: what is not one is a note on stderr.
    if arguments.json:
        report(COMMAND, "note", message)
    else:
        write_output(message + "\n")
    return 0


def run(arguments: argparse.Namespace, compiler_arguments: Sequence[str]) -> int:
    if arguments.build is None:
        raise CommandError("give the build folder with -p BUILD")
    try:
        changed = changed_lines(_read_diff(arguments.diff or "-"))
    except DiffError as error:
        raise CommandError(str(error)) from None
    if not changed:  # nothing, or only files deleted
        return _nothing(arguments, "no declarations touched")
    if not any(map(is_c_file, changed)):
        return _nothing(arguments, "no C or C++ file changed")
    root = arguments.root
    cache = cache_folder(arguments)
    project = project_units(COMMAND, arguments, [], compiler_arguments)
    paths = _sort_paths(list(changed), root, project.units)
    units = _units_to_parse(project.units, paths, root)
    results: List[UnitResult] = []
    failed = 0
    if units:
        failed = run_units(
            COMMAND,
            project._replace(units=units),
            diff_pattern(changed),
            arguments.jobs,
            arguments.timeout,
            results.append,
            arguments.verbose,
            cache=cache,
        ).failed
    touched, reached = touched_declarations(changed, root, results)
    if not reached and not failed:
        raise CommandError(
            "the diff changes no file the compilation database reaches: "
            f"{_listed([path for path in changed if is_c_file(path)])}; its paths are taken "
            f"relative to --root DIR (now {_printable(os.path.abspath(root))}); "
            "for git diff, give the repository's top folder"
        )
    skipped = [path for path in paths.other if path not in reached]
    if skipped:
        report(COMMAND, "note", "skipped, not C or C++: " + _listed(skipped))
    outside = [path for path in changed if is_c_file(path) and path not in reached]
    if outside and not failed:  # a unit that failed may read them
        report(COMMAND, "note", "not reached by the compilation database: " + _listed(outside))
    if touched:
        render = _json if arguments.json else _text
        write_output("".join(map(render, touched)))
    elif not failed:
        _nothing(arguments, "no declarations touched")
    return 1 if failed else 0
