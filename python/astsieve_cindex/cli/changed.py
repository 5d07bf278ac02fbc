"""python -m astsieve_cindex changed: the declarations a unified diff
touches, in the files a project's compilation database reaches."""

from __future__ import annotations

import argparse
import json
import os
import sys
from typing import Sequence

from .errors import PROG, CommandError, report, write_output
from .options import Commands, project_parser
from .project import project_units, scan_options
from .running import Progress
from ..changed import (
    BaseError,
    DiffError,
    Entry,
    Inactive,
    Removed,
    find_changes,
    is_c_file,
    printable,
    read_change,
)

__all__ = ["add_parser", "run"]

COMMAND = "changed"


def add_parser(commands: Commands) -> None:
    parser = project_parser(
        commands,
        COMMAND,
        "the declarations a unified diff touches, in a project's files",
        "-p BUILD [DIFF] [--root DIR] [--base REV] [--all-units] [--json] [--jobs N] "
        "[--timeout SECONDS] [--resource-dir DIR] [--strict] [--query-driver GLOBS] [--verbose] "
        "[--cache DIR]",
        "Read a unified diff (DIFF, or stdin) and list the top-level declarations its changed "
        "lines touch, in every file the compilation database reaches, as a unit or as a "
        "header: kind, name, file and line range; and changed lines in code the preprocessor "
        "skipped (#if 0), with the directives' line range. Lines a diff removes count through "
        "the lines around them; with --base, declarations the diff removes are listed too. "
        "A changed header is read through one unit that includes it, or more where its "
        "changed lines are skipped by the preprocessor there.",
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
        "--base",
        metavar="REV",
        help="the git revision the diff applies to (git diff: HEAD): its files, read with "
        "git show in --root, are parsed too, to list the declarations the diff removes",
    )
    parser.add_argument(
        "--all-units",
        action="store_true",
        help="for a changed header, parse every unit of the database, not only one that "
        "includes it (for headers whose declarations depend on the unit's macros)",
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


def _listed(paths: Sequence[str]) -> str:
    return printable(", ".join(paths))


def _lines(entry: Entry) -> str:
    said = []
    if entry.lines:
        said.append("changed lines " + ", ".join(map(str, entry.lines)))
    if not isinstance(entry, Inactive) and entry.removed:
        said.append("removed lines " + ", ".join(map(str, entry.removed)))
    return "; ".join(said)


def _text(entry: Entry) -> str:
    if isinstance(entry, Inactive):
        return (
            f"{printable(entry.file)}:{entry.first_line}-{entry.last_line}: inactive: "
            f"skipped by the preprocessor ({_lines(entry)})\n"
        )
    declaration = entry.declaration
    removed = "removed: " if isinstance(entry, Removed) else ""
    return (
        f"{printable(declaration.file)}:{declaration.first_line}-{declaration.last_line}: "
        f"{removed}{declaration.kind} {declaration.name} ({_lines(entry)})\n"
    )


def _json(entry: Entry, base: bool) -> str:
    if isinstance(entry, Inactive):
        fields = {"change": "inactive", **entry._asdict()}
        del fields["lines"]
    else:
        change = "removed" if isinstance(entry, Removed) else "declaration"
        fields = {"change": change, **entry.declaration._asdict()}
    fields["changed_lines"] = list(entry.lines)
    if base:
        fields["removed_lines"] = list(getattr(entry, "removed", ()))
    return json.dumps(fields) + "\n"


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
    root = arguments.root
    try:
        change = read_change(_read_diff(arguments.diff or "-"), root, arguments.base)
    except (DiffError, BaseError) as error:
        raise CommandError(str(error)) from None
    changed = change.diff.changed
    if not changed:  # nothing, or only files deleted
        return _nothing(arguments, "no declarations touched")
    if not any(map(is_c_file, changed)):
        return _nothing(arguments, "no C or C++ file changed")
    options = scan_options(arguments)
    project = project_units(COMMAND, arguments, [], compiler_arguments, options.cache)
    progress = Progress(COMMAND, project.headers_missing, arguments.verbose, project.asked)
    with progress:
        found = find_changes(change, project.units, options, progress, arguments.all_units)
    progress.summarize()
    if arguments.verbose:
        again = f", {found.parsed_again} again at {arguments.base}" if arguments.base else ""
        skimmed = f", {found.skimmed} without function bodies first" if found.skimmed else ""
        progress.note(f"parsed {found.parsed} of {found.units} units{skimmed}{again}")
        if options.cache is not None:
            progress.summarize_cache()
    failed = found.failed
    if not found.reached and not failed:
        raise CommandError(
            "the diff changes no file the compilation database reaches: "
            f"{_listed([path for path in changed if is_c_file(path)])}; its paths are taken "
            f"relative to --root DIR (now {printable(os.path.abspath(root))}); "
            "for git diff, give the repository's top folder"
        )
    if found.not_c:
        report(COMMAND, "note", "skipped, not C or C++: " + _listed(found.not_c))
    outside = [path for path in changed if is_c_file(path) and path not in found.reached]
    if outside and not failed:  # a unit that failed may read them
        report(COMMAND, "note", "not reached by the compilation database: " + _listed(outside))
    if found.entries:
        base = bool(arguments.base)
        render = (lambda entry: _json(entry, base)) if arguments.json else _text
        write_output("".join(map(render, found.entries)))
    elif not failed:
        _nothing(arguments, "no declarations touched")
    return 1 if failed else 0
