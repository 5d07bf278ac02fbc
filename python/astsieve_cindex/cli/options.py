"""The options the commands share (-p, --jobs, --timeout, --resource-dir,
--strict, --query-driver, --cache, --verbose) and the check of --pattern."""

from __future__ import annotations

import argparse
import os
from typing import TYPE_CHECKING

from .errors import CommandError, prog
from ..patterns import pattern_error

__all__ = [
    "Commands",
    "add_parse_options",
    "check_pattern",
    "command_parser",
    "project_parser",
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


def add_parse_options(parser: argparse.ArgumentParser) -> None:
    """How files are parsed: --resource-dir, --strict, --query-driver."""
    parser.add_argument(
        "--resource-dir",
        metavar="DIR",
        help="clang resource directory with the builtin headers (DIR/include/stddef.h); "
        "by default libclang's own, else a matching one found on this machine",
    )
    parser.add_argument(
        "--strict",
        action="store_true",
        help="fail a unit libclang reports errors for (by default it is indexed as libclang "
        "parsed it and its errors are counted)",
    )
    parser.add_argument(
        "--query-driver",
        metavar="GLOBS",
        help="comma-separated globs of compiler paths (** crosses folders) that may be run "
        "to learn their target and system include directories, e.g. '/usr/bin/arm-*-gcc'",
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
    add_parse_options(parser)
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


def check_pattern(pattern: str) -> None:
    """CommandError unless `pattern` is an ECMAScript regular expression
    the engine takes."""
    error = pattern_error(pattern)
    if error is not None:
        raise CommandError(f"invalid pattern {pattern!r}: {error}")
