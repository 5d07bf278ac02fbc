"""The options the commands share (-p, --jobs, --timeout, --resource-dir,
--cache, the check of --pattern) and what they name: libclang with its builtin
headers, and a project's units."""

from __future__ import annotations

import argparse
import os
from types import ModuleType
from typing import TYPE_CHECKING, List, NamedTuple, Optional, Sequence, Tuple

from clang.cindex import LibclangError

from .errors import CommandError, prog, report
from ..project.cache import CacheError, ScanCache
from ..loading import LibclangMismatchError, load_cindex
from ..patterns import pattern_error
from ..project.database import DatabaseError, Unit, explicit_units, read_database, select_units
from ..project.builtin_headers import BuiltinHeaders, builtin_headers

__all__ = [
    "Commands",
    "Project",
    "add_resource_dir_option",
    "cache_folder",
    "check_pattern",
    "cindex_and_headers",
    "command_parser",
    "project_parser",
    "project_units",
]

# The program's commands, as argparse's add_subparsers gives them.
if TYPE_CHECKING:
    Commands = argparse._SubParsersAction[argparse.ArgumentParser]
else:
    Commands = argparse._SubParsersAction


def command_parser(
    commands: Commands, command: str, summary: str, usage: str, description: str, epilog: str
) -> argparse.ArgumentParser:
    """The parser of `command` among the program's `commands`: `summary` is
    its line in the program's help, `usage` its options."""
    return commands.add_parser(
        command,
        help=summary,
        prog=prog(command),
        usage=f"{prog(command)} [-h] {usage} [-- compiler arguments]",
        description=description,
        epilog=epilog,
    )


def _jobs(text: str) -> int:
    value = int(text)
    if value < 1:
        raise argparse.ArgumentTypeError("must be at least 1")
    return value


def _seconds(text: str) -> float:
    value = float(text)
    if not value > 0 or value == float("inf"):
        raise argparse.ArgumentTypeError("must be a number of seconds above 0")
    return value


def add_resource_dir_option(parser: argparse.ArgumentParser) -> None:
    parser.add_argument(
        "--resource-dir",
        metavar="DIR",
        help="clang resource directory with the builtin headers (DIR/include/stddef.h); "
        "by default libclang's own, else a matching one found on this machine",
    )


def project_parser(
    commands: Commands, command: str, summary: str, usage: str, description: str, epilog: str
) -> argparse.ArgumentParser:
    """A project command's parser with the options every project command takes."""
    parser = command_parser(
        commands,
        command,
        summary,
        usage,
        description,
        epilog + " Arguments after -- are added to each unit's own.",
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
    parser.add_argument(
        "--timeout",
        type=_seconds,
        metavar="SECONDS",
        help="give up on a unit after SECONDS, killing its worker (default: no limit)",
    )
    parser.add_argument(
        "--verbose",
        "-v",
        action="store_true",
        help="print libclang's warnings and errors, each as it comes (by default: counted), "
        "and how many units came from the cache",
    )
    parser.add_argument(
        "--cache",
        metavar="DIR",
        help="keep each unit's output in DIR and take it from there while the files the unit "
        "read are unchanged (made when missing; see the cache command)",
    )
    return parser


def cache_folder(arguments: argparse.Namespace) -> Optional[str]:
    """The --cache folder as the workers use it, made if missing; CommandError
    when it cannot be read or written."""
    if arguments.cache is None:
        return None
    try:
        return ScanCache(arguments.cache).folder
    except CacheError as error:
        raise CommandError(str(error)) from None


def check_pattern(pattern: str) -> None:
    """CommandError unless `pattern` is an ECMAScript regular expression
    the engine takes."""
    error = pattern_error(pattern)
    if error is not None:
        raise CommandError(f"invalid pattern {pattern!r}: {error}")


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
