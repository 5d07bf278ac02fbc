"""What the project commands share: their common options, the units they
name, and running units with progress, failure lines and Ctrl-C."""

from __future__ import annotations

import argparse
import contextlib
import os
import sys
from concurrent.futures.process import BrokenProcessPool
from types import ModuleType
from typing import Callable, List, NamedTuple, Optional, Sequence, Tuple

from clang.cindex import LibclangError
from tqdm import tqdm

from ..loading import LibclangMismatchError, load_cindex
from ..project import DatabaseError, Unit, explicit_units, read_database, select_units
from ..resource_dir import BuiltinHeaders, builtin_headers
from ..scan import UnitResult, scan

__all__ = [
    "CommandError",
    "Outcome",
    "Project",
    "add_resource_dir_option",
    "cindex_and_headers",
    "project_parser",
    "project_units",
    "report",
    "run_command",
    "run_units",
    "split_compiler_arguments",
]

PROG = "python -m astsieve_cindex"
INTERRUPTED = 130


class CommandError(Exception):
    """Input a command cannot work on; the message is one line."""


class Outcome(NamedTuple):
    done: int
    failed: int


def split_compiler_arguments(argv: Sequence[str]) -> Tuple[List[str], List[str]]:
    arguments = list(argv)
    if "--" not in arguments:
        return arguments, []
    cut = arguments.index("--")
    return arguments[:cut], arguments[cut + 1 :]


def _jobs(text: str) -> int:
    value = int(text)
    if value < 1:
        raise argparse.ArgumentTypeError("must be at least 1")
    return value


def add_resource_dir_option(parser: argparse.ArgumentParser) -> None:
    parser.add_argument(
        "--resource-dir",
        metavar="DIR",
        help="clang resource directory with the builtin headers (DIR/include/stddef.h); "
        "by default libclang's own, else a matching one found on this machine",
    )


def project_parser(
    command: str, usage: str, description: str, epilog: str
) -> argparse.ArgumentParser:
    """A command's parser with the options every project command takes."""
    parser = argparse.ArgumentParser(
        prog=f"{PROG} {command}",
        usage=f"{PROG} {command} [-h] {usage} [-- compiler arguments]",
        description=description,
        epilog=epilog + " Arguments after -- are added to each unit's own.",
    )
    parser.add_argument(
        "-p",
        dest="build",
        metavar="BUILD",
        help="the build folder holding compile_commands.json, or that file",
    )
    add_resource_dir_option(parser)
    parser.add_argument(
        "--jobs",
        "-j",
        type=_jobs,
        metavar="N",
        help=f"worker processes (default: the machine's cores, {os.cpu_count() or 1})",
    )
    return parser


def report(command: str, kind: str, message: str) -> None:
    """One line on stderr, above the progress bar if there is one."""
    line = " ".join(message.splitlines())
    tqdm.write(f"{PROG} {command}: {kind}: {line}", file=sys.stderr)


def cindex_and_headers(
    compiler_arguments: Sequence[str], resource_dir: Optional[str]
) -> Tuple[ModuleType, BuiltinHeaders]:
    """clang.cindex with its libclang loaded, and the builtin headers to parse
    with; CommandError when libclang cannot be loaded, or when the resource
    directory given has no builtin headers."""
    try:
        cindex = load_cindex()
    except (LibclangError, LibclangMismatchError) as error:
        raise CommandError(str(error)) from None
    headers = builtin_headers(cindex, compiler_arguments, resource_dir)
    if resource_dir is not None and headers.missing:
        raise CommandError(headers.missing)
    return cindex, headers


class Project(NamedTuple):
    """The units to scan, and why a header may not be found (clang's builtin
    headers are missing), if they are."""

    units: List[Unit]
    headers_missing: Optional[str]


def project_units(
    command: str,
    arguments: argparse.Namespace,
    files: Sequence[str],
    compiler_arguments: Sequence[str],
) -> Project:
    """The units a command line names: the database's (all, or those of
    `files`) with the compiler arguments added, or `files` alone; with
    clang's builtin headers when the loaded libclang lacks its own."""
    headers = cindex_and_headers(compiler_arguments, arguments.resource_dir)[1]
    if headers.note:
        report(command, "note", headers.note)
    extra = list(headers.arguments)
    if arguments.build is None:
        if not files:
            raise CommandError("give a build folder with -p BUILD, or files to parse")
        return Project(explicit_units(files, extra), headers.missing)
    try:
        database = read_database(arguments.build)
    except DatabaseError as error:
        raise CommandError(str(error)) from None
    units, missing = select_units(database, files, extra)
    for file in missing:
        report(
            command,
            "note",
            f"{file} is not in the compilation database: "
            "parsed with the arguments after -- alone, in the current directory",
        )
    return Project(units, headers.missing)


def run_units(
    command: str,
    project: Project,
    pattern: str,
    jobs: Optional[int],
    on_result: Callable[[UnitResult], None],
) -> Outcome:
    """Scans the project's units, hands each good result to `on_result` and
    reports each failed unit in one line; a progress bar on stderr when it
    is a terminal."""
    failed = 0
    total = len(project.units)
    bar = tqdm(total=total, unit="unit", file=sys.stderr, disable=not sys.stderr.isatty())
    with bar, contextlib.closing(scan(project.units, pattern, jobs)) as results:
        for result in results:
            if result.error is None:
                on_result(result)
            else:
                failed += 1
                error = result.error
                if project.headers_missing and "file not found" in error:
                    error += ": " + project.headers_missing
                report(command, "failed", error)
                bar.set_postfix(failed=failed, refresh=False)
            bar.update()
    return Outcome(total, failed)


def run_command(command: str, body: Callable[[], int]) -> int:
    """Runs a command's body and turns its failures into one line on stderr
    and an exit status: 1 for errors, 130 after Ctrl-C."""
    try:
        return body()
    except CommandError as error:
        report(command, "error", str(error))
        return 1
    except BrokenProcessPool:
        report(command, "error", "a worker process ended unexpectedly")
        return 1
    except KeyboardInterrupt:
        report(command, "error", "interrupted")
        return INTERRUPTED
    except BrokenPipeError:
        # The reader has gone (`| head`); that is no error of ours.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return 0
