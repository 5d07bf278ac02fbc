"""python -m astsieve_cindex scan: every node of a project's units, as JSON
Lines (one record per accepted file of a unit, each header once per
variant) or as Parquet, written as each unit finishes."""

from __future__ import annotations

import argparse
from typing import Sequence

from .errors import CommandError, write_output
from .options import Commands, check_pattern, project_parser
from .project import project_units, scan_options
from .running import Progress
from ..formats import FormatError, format_named, format_names
from ..project.scan import write_scan

__all__ = ["add_parser", "run"]

COMMAND = "scan"


def add_parser(commands: Commands) -> None:
    parser = project_parser(
        commands,
        COMMAND,
        "every node of a project's units as JSON Lines or Parquet",
        "[-p BUILD] [--pattern RE] [--jobs N] [--timeout SECONDS] [--resource-dir DIR] [--strict] "
        "[--query-driver GLOBS] [--verbose] [--cache DIR] [--format parquet --output DIR] "
        "[FILE ...]",
        "Parse the units of a compilation database (all, or those of the FILEs), or the FILEs "
        "alone, in worker processes, and write every node of accepted files as each unit "
        "finishes: as JSON Lines, one record per accepted file of a unit with its declarations "
        "once and its nodes by line, or as Parquet. A file is accepted when it is the unit's "
        "main file or its whole path matches RE; a header that an earlier unit gave with the "
        "same contents and nodes is left out.",
        "A FILE that the database does not list is parsed with the arguments after -- alone, "
        "in the current directory (a compiler first after -- is taken as the database's). A unit "
        "libclang reports errors for is indexed as it parsed it, with one line on stderr; exit "
        "status 1 when a unit failed, or with --strict had errors (each in one line on stderr).",
    )
    parser.add_argument("files", nargs="*", metavar="FILE", help="source files to parse")
    parser.add_argument(
        "--pattern", metavar="RE", default="", help="ECMAScript regular expression for headers"
    )
    names = format_names()
    parser.add_argument(
        "--format",
        choices=names,
        default=names[0],
        help=", or ".join(format_named(name).summary for name in names),
    )
    parser.add_argument(
        "--output", metavar="DIR", help="the folder for --format parquet: DIR/nodes.parquet"
    )


def run(arguments: argparse.Namespace, compiler_arguments: Sequence[str]) -> int:
    check_pattern(arguments.pattern)
    output_format = format_named(arguments.format)
    options = scan_options(arguments, pattern=arguments.pattern, encoding=output_format.encoding)
    project = project_units(
        COMMAND, arguments, arguments.files, compiler_arguments, options.cache
    )
    try:
        output = output_format.open_output(arguments.output, write_output)
    except FormatError as error:
        raise CommandError(str(error)) from None
    progress = Progress(COMMAND, project.headers_missing, arguments.verbose, project.asked)
    with progress:
        write_scan(project.units, options, output, progress)
    progress.summarize()
    if options.cache is not None and arguments.verbose:
        progress.summarize_cache()
    return 1 if progress.failed else 0
