"""The command line: python -m astsieve_cindex [list | scan | changed | cache] ...

One parser with a subparser per command; without a command the arguments
are the listing's. Arguments after -- go to the compiler and never reach
the parser.
"""

from __future__ import annotations

import argparse
import sys
from typing import Dict, List, Optional, Protocol, Sequence, Tuple

from . import cache, changed, list as listing, scan
from .errors import LIST, PROG, run_command
from .list import EXAMPLE_FILE
from .options import Commands

__all__ = ["EXAMPLE_FILE", "main"]


class _Command(Protocol):
    """What each command's module holds."""

    def add_parser(self, commands: Commands) -> None: ...

    def run(self, arguments: argparse.Namespace, compiler_arguments: Sequence[str]) -> int: ...


COMMANDS: Dict[str, _Command] = {
    LIST: listing,
    "scan": scan,
    "changed": changed,
    "cache": cache,
}
_HELP = ("-h", "--help")


def _split_compiler_arguments(argv: Sequence[str]) -> Tuple[List[str], List[str]]:
    arguments = [*argv]  # `list` here is the command's module
    if "--" not in arguments:
        return arguments, []
    cut = arguments.index("--")
    return arguments[:cut], arguments[cut + 1 :]


def _parse(own: List[str]) -> argparse.Namespace:
    parser = argparse.ArgumentParser(
        prog=PROG,
        usage=f"{PROG} [-h] [COMMAND] ...",
        description="Group the nodes of C and C++ code by file and line, with libclang. "
        f"Without a command: {LIST}, e.g. {PROG} main.c --pattern '.*/include/.*' "
        "-- -I include.",
        epilog=f"Each command's own options: {PROG} COMMAND -h.",
    )
    commands = parser.add_subparsers(
        title="commands", dest="command", metavar="COMMAND", required=True
    )
    for module in COMMANDS.values():
        module.add_parser(commands)
    if not own or own[0] not in COMMANDS and own[0] not in _HELP:
        own = [LIST, *own]
    arguments, unknown = parser.parse_known_args(own)
    if unknown:  # in the command's name, as the command's own parser says it
        commands.choices[arguments.command].error(f"unrecognized arguments: {' '.join(unknown)}")
    return arguments


def main(argv: Optional[Sequence[str]] = None) -> int:
    own, compiler_arguments = _split_compiler_arguments(sys.argv[1:] if argv is None else argv)
    arguments = _parse(own)
    command = COMMANDS[arguments.command]
    return run_command(arguments.command, lambda: command.run(arguments, compiler_arguments))
