"""python -m astsieve_cindex scan: every node of a project's units, as JSON
Lines (one record per accepted file of a unit, each header once per
variant) or as Parquet, written as each unit finishes."""

from __future__ import annotations

import argparse
from typing import Protocol, Sequence

from .errors import CommandError, write_output
from .options import Commands, cache_folder, check_pattern, project_parser, project_units
from .running import run_units
from ..project.scan import UnitResult
from ..formats.sections import Section, SectionFilter

__all__ = ["add_parser", "run"]

COMMAND = "scan"


class Output(Protocol):
    def write(self, sections: Sequence[Section]) -> None: ...

    def close(self) -> None: ...


def add_parser(commands: Commands) -> None:
    parser = project_parser(
        commands,
        COMMAND,
        "every node of a project's units as JSON Lines or Parquet",
        "[-p BUILD] [--pattern RE] [--jobs N] [--timeout SECONDS] [--resource-dir DIR] [--verbose] "
        "[--cache DIR] [--format parquet --output DIR] [FILE ...]",
        "Parse the units of a compilation database (all, or those of the FILEs), or the FILEs "
        "alone, in worker processes, and write every node of accepted files as each unit "
        "finishes: as JSON Lines, one record per accepted file of a unit with its declarations "
        "once and its nodes by line, or as Parquet. A file is accepted when it is the unit's "
        "main file or its whole path matches RE; a header that an earlier unit gave with the "
        "same contents and nodes is left out.",
        "A FILE that the database does not list is parsed with the arguments after -- alone, "
        "in the current directory. Exit status 1 when a unit failed (each is reported in one "
        "line on stderr).",
    )
    parser.add_argument("files", nargs="*", metavar="FILE", help="source files to parse")
    parser.add_argument(
        "--pattern", metavar="RE", default="", help="ECMAScript regular expression for headers"
    )
    parser.add_argument(
        "--format",
        choices=("jsonl", "parquet"),
        default="jsonl",
        help="JSON Lines on stdout (default), or Parquet tables in --output DIR (needs pyarrow)",
    )
    parser.add_argument(
        "--output", metavar="DIR", help="the folder for --format parquet: DIR/nodes.parquet"
    )


class _JsonLinesOutput:
    """Sections written to stdout as they are (ASCII: JSON escapes the
    rest), each unit's at once."""

    def write(self, sections: Sequence[Section]) -> None:
        write_output(b"".join(section.data for section in sections).decode("ascii"))

    def close(self) -> None:
        pass


def _open_output(arguments: argparse.Namespace) -> Output:
    if arguments.format == "jsonl":
        if arguments.output is not None:
            raise CommandError("--output DIR is for --format parquet; JSON Lines go to stdout")
        return _JsonLinesOutput()
    if arguments.output is None:
        raise CommandError("--format parquet needs --output DIR")
    try:
        from ..formats.parquet import ParquetOutput
    except ImportError:
        raise CommandError(
            "--format parquet needs pyarrow: pip install 'astsieve[parquet]'"
        ) from None
    try:
        return ParquetOutput(arguments.output)
    except OSError as error:
        reason = error.strerror or str(error)
        raise CommandError(f"cannot write to {arguments.output}: {reason}") from None


def run(arguments: argparse.Namespace, compiler_arguments: Sequence[str]) -> int:
    check_pattern(arguments.pattern)
    cache = cache_folder(arguments)
    project = project_units(COMMAND, arguments, arguments.files, compiler_arguments)
    output = _open_output(arguments)
    chosen = SectionFilter()

    def write(result: UnitResult) -> None:
        output.write(chosen.new_sections(result.sections))

    encoding = "jsonl" if arguments.format == "jsonl" else "arrow"
    try:
        outcome = run_units(
            COMMAND,
            project,
            arguments.pattern,
            arguments.jobs,
            arguments.timeout,
            write,
            arguments.verbose,
            encoding,
            cache=cache,
        )
    finally:
        output.close()
    return 1 if outcome.failed else 0
