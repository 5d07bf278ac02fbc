"""python -m astsieve_cindex [list] [FILE] [--pattern RE] [--json] [-- compiler arguments]

Parses FILE with libclang and prints the nodes that lie in accepted files,
grouped by file and line. Without FILE it shows a small example that comes
with the package. The program's default command.
"""

from __future__ import annotations

import argparse
import os
from pathlib import Path
from typing import Optional, Sequence

from .errors import LIST, PROG, CommandError, report, write_output
from .options import Commands, add_parse_options, check_pattern, command_parser
from .project import cindex_and_headers, command_line_compiler, queried
from .running import query_driver_hint
from ..listing import listing, render_json, render_text
from ..names import undecodable_name
from ..project.database import explicit_units
from ..project.parsing import ParseError, indexed_text, parse_file, unit_errors
from ..patterns import ecmascript_escape
from ..queries import get_path_to_lineno_to_nodes

__all__ = ["EXAMPLE_FILE", "add_parser", "listing_text", "run"]

EXAMPLE_DIR = Path(__file__).resolve().parent.parent / "example"
EXAMPLE_FILE = EXAMPLE_DIR / "shapes.c"


def add_parser(commands: Commands) -> None:
    parser = command_parser(
        commands,
        LIST,
        "the nodes of one C or C++ file by file and line (the default command)",
        "[FILE] [--pattern RE] [--json] [--resource-dir DIR] [--strict] [--query-driver GLOBS]",
        "Parse FILE with libclang and list the nodes in accepted files by file "
        "and line: the main file, and every file whose whole path matches RE. Without FILE, "
        "list the example that comes with astsieve_cindex, header included.",
        "Arguments after -- go to the compiler, e.g. -- -I include -DNDEBUG -x c++; they may "
        "begin with the compiler, as a build runs it (arm-none-eabi-gcc -mthumb ...). "
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
    add_parse_options(parser)


def _check_file(path: str) -> None:
    if not os.path.exists(path):
        raise CommandError(f"no such file: {path}")
    if not os.path.isfile(path):
        raise CommandError(f"not a regular file: {path}")


def listing_text(
    file: Optional[str],
    pattern: Optional[str],
    as_json: bool,
    compiler_arguments: Sequence[str],
    resource_dir: Optional[str] = None,
    strict: bool = False,
    query_driver: Optional[str] = None,
) -> str:
    """The whole output for one command line, or CommandError. A file
    libclang reports errors for is listed as it parsed it, with one line on
    stderr; with `strict` it fails. `query_driver` as --query-driver."""
    if file is None:
        file = str(EXAMPLE_FILE)
        if pattern is None:
            pattern = ecmascript_escape(str(EXAMPLE_DIR)) + "/.*"
    pattern = pattern or ""
    _check_file(file)
    check_pattern(pattern)
    compiler, compiler_arguments = command_line_compiler(compiler_arguments)
    cindex, headers = cindex_and_headers(compiler_arguments, resource_dir)
    if headers.note:
        report(LIST, "note", headers.note)
    given = explicit_units([file], headers.arguments, compiler)
    units, asked = queried(LIST, query_driver, False, given)
    hint = query_driver_hint(units[0], asked)
    try:
        unit = parse_file(cindex, file, units[0].arguments, headers.missing, keep_errors=not strict)
    except ParseError as error:
        raise CommandError(str(error) + hint) from None
    errors = unit_errors(unit)
    if errors:
        report(LIST, "warning", indexed_text(file, errors) + hint)
        if headers.missing and any("file not found" in error for error in errors):
            report(LIST, "note", headers.missing)
    try:
        result = get_path_to_lineno_to_nodes(unit, pattern)
    except UnicodeDecodeError as error:
        raise CommandError(f"a file path is not valid UTF-8: {undecodable_name(error)}") from None
    except RuntimeError as error:
        raise CommandError(str(error)) from None
    nodes = listing(result, unit.spelling)
    return render_json(nodes) if as_json else render_text(nodes)


def run(arguments: argparse.Namespace, compiler_arguments: Sequence[str]) -> int:
    output = listing_text(
        arguments.file,
        arguments.pattern,
        arguments.json,
        compiler_arguments,
        arguments.resource_dir,
        arguments.strict,
        arguments.query_driver,
    )
    write_output(output)
    return 0
