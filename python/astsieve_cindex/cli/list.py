"""python -m astsieve_cindex [FILE] [--pattern RE] [--json] [-- compiler arguments]

Parses FILE with libclang and prints the nodes that lie in accepted files,
grouped by file and line. Without FILE it shows a small example that comes
with the package. `scan` and `changed` as first argument run the project
commands of cli.scan and cli.changed.
"""

from __future__ import annotations

import argparse
import os
import sys
from pathlib import Path
from typing import List, Optional, Sequence

from . import changed as changed_command, scan as scan_command
from .options import (
    CommandError,
    add_resource_dir_option,
    cindex_and_headers,
    split_compiler_arguments,
)
from ..listing import listing, render_json, render_text
from ..parsing import ParseError, parse_file
from ..patterns import ecmascript_escape, pattern_error
from ..queries import get_path_to_lineno_to_nodes

__all__ = ["EXAMPLE_FILE", "InputError", "main", "run"]

PROG = "python -m astsieve_cindex"
EXAMPLE_DIR = Path(__file__).resolve().parent.parent / "example"
EXAMPLE_FILE = EXAMPLE_DIR / "shapes.c"

_COMMANDS = {"scan": scan_command.main, "changed": changed_command.main}


class InputError(Exception):
    """Input the command line cannot work on; the message is one line."""


def _parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog=PROG,
        usage=f"{PROG} [-h] [FILE] [--pattern RE] [--json] [--resource-dir DIR] "
        "[-- compiler arguments]",
        description="Parse FILE with libclang and list the nodes in accepted files by file "
        "and line: the main file, and every file whose whole path matches RE. Without FILE, "
        "list the example that comes with astsieve_cindex, header included.",
        epilog="Arguments after -- go to the compiler, e.g. -- -I include -DNDEBUG -x c++. "
        f"For whole projects see {PROG} scan -h and {PROG} changed -h.",
    )
    parser.add_argument("file", nargs="?", metavar="FILE", help="the C or C++ file to parse")
    parser.add_argument(
        "--pattern",
        metavar="RE",
        help="ECMAScript regular expression; files whose whole path matches are accepted too",
    )
    parser.add_argument(
        "--json", action="store_true", help="print {path: {line: [{kind, spelling}]}} as JSON"
    )
    add_resource_dir_option(parser)
    return parser


def _check_pattern(pattern: str) -> None:
    error = pattern_error(pattern)
    if error is not None:
        raise InputError(f"invalid pattern {pattern!r}: {error}")


def _check_file(path: str) -> None:
    if not os.path.exists(path):
        raise InputError(f"no such file: {path}")
    if not os.path.isfile(path):
        raise InputError(f"not a regular file: {path}")


def run(
    file: Optional[str],
    pattern: Optional[str],
    as_json: bool,
    compiler_arguments: List[str],
    resource_dir: Optional[str] = None,
) -> str:
    """The whole output for one command line, or InputError."""
    if file is None:
        file = str(EXAMPLE_FILE)
        if pattern is None:
            pattern = ecmascript_escape(str(EXAMPLE_DIR)) + "/.*"
    pattern = pattern or ""
    _check_file(file)
    _check_pattern(pattern)
    try:
        cindex, headers = cindex_and_headers(compiler_arguments, resource_dir)
    except CommandError as error:
        raise InputError(str(error)) from None
    if headers.note:
        print(f"{PROG}: note: {headers.note}", file=sys.stderr)
    try:
        unit = parse_file(cindex, file, headers.arguments, headers.missing)
    except ParseError as error:
        raise InputError(str(error)) from None
    try:
        result = get_path_to_lineno_to_nodes(unit, pattern)
    except UnicodeDecodeError as error:
        raise InputError(f"a file path is not valid UTF-8: {error}") from None
    except RuntimeError as error:
        raise InputError(str(error)) from None
    nodes = listing(result, unit.spelling)
    return render_json(nodes) if as_json else render_text(nodes)


def main(argv: Optional[Sequence[str]] = None) -> int:
    argv = list(sys.argv[1:] if argv is None else argv)
    if argv and argv[0] in _COMMANDS:
        return _COMMANDS[argv[0]](argv[1:])
    own, compiler_arguments = split_compiler_arguments(argv)
    arguments = _parser().parse_args(own)
    try:
        output = run(
            arguments.file,
            arguments.pattern,
            arguments.json,
            compiler_arguments,
            arguments.resource_dir,
        )
    except InputError as error:
        message = " ".join(str(error).splitlines())  # one line, whatever libclang said
        print(f"{PROG}: error: {message}", file=sys.stderr)
        return 1
    try:
        sys.stdout.write(output)
        sys.stdout.flush()
    except BrokenPipeError:
        # The reader has gone (`| head`); that is no error of ours.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
    return 0
