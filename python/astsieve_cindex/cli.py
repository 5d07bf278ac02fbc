"""python -m astsieve_cindex [FILE] [--pattern RE] [--json] [-- compiler arguments]

Parses FILE with libclang and prints the nodes that lie in accepted files,
grouped by file and line. Without FILE it shows a small example that comes
with the package.
"""

from __future__ import annotations

import argparse
import os
import sys
from pathlib import Path
from types import ModuleType
from typing import List, Optional, Sequence, Tuple

import astsieve
from clang.cindex import Diagnostic, LibclangError, TranslationUnit

from .listing import listing, render_json, render_text
from .loading import LibclangMismatchError, load_cindex
from .queries import get_path_to_lineno_to_nodes
from .resource_dir import builtin_headers

__all__ = ["EXAMPLE_FILE", "InputError", "main", "run"]

PROG = "python -m astsieve_cindex"
EXAMPLE_DIR = Path(__file__).resolve().parent / "example"
EXAMPLE_FILE = EXAMPLE_DIR / "shapes.c"

# Diagnostics quoted in a parse failure; the rest are counted.
_QUOTED_DIAGNOSTICS = 3
_ECMASCRIPT_SYNTAX_CHARACTERS = set("^$\\.*+?()[]{}|")


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
        epilog="Arguments after -- go to the compiler, e.g. -- -I include -DNDEBUG -x c++.",
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
    parser.add_argument(
        "--resource-dir",
        metavar="DIR",
        help="clang resource directory with the builtin headers (DIR/include/stddef.h); "
        "by default libclang's own, else a matching one found on this machine",
    )
    return parser


def _split_compiler_arguments(argv: Sequence[str]) -> Tuple[List[str], List[str]]:
    arguments = list(argv)
    if "--" not in arguments:
        return arguments, []
    cut = arguments.index("--")
    return arguments[:cut], arguments[cut + 1 :]


def _ecmascript_escape(text: str) -> str:
    return "".join("\\" + char if char in _ECMASCRIPT_SYNTAX_CHARACTERS else char for char in text)


def _check_pattern(pattern: str) -> None:
    # The engine compiles the pattern before it looks at the handle, so a
    # call on no translation unit tests the pattern alone.
    try:
        astsieve.get_path_to_lineno_to_nodes(0, pattern, "")
    except RuntimeError as error:
        raise InputError(f"invalid pattern {pattern!r}: {error}") from None


def _check_file(path: str) -> None:
    if not os.path.exists(path):
        raise InputError(f"no such file: {path}")
    if not os.path.isfile(path):
        raise InputError(f"not a regular file: {path}")


def _diagnostic_text(diagnostic: Diagnostic) -> str:
    severity = "fatal error" if diagnostic.severity >= Diagnostic.Fatal else "error"
    location = diagnostic.location
    where = f"{location.file.name}:{location.line}:{location.column}: " if location.file else ""
    return f"{where}{severity}: {diagnostic.spelling}"


def _parse(
    cindex: ModuleType, path: str, compiler_arguments: List[str], headers_missing: Optional[str]
) -> TranslationUnit:
    options = cindex.TranslationUnit.PARSE_DETAILED_PROCESSING_RECORD
    try:
        unit = cindex.Index.create().parse(path, args=compiler_arguments, options=options)
    except cindex.TranslationUnitLoadError:
        hint = ", check the compiler arguments" if compiler_arguments else ""
        raise InputError(f"cannot parse {path}: libclang made no translation unit{hint}") from None
    errors = [
        _diagnostic_text(diagnostic)
        for diagnostic in unit.diagnostics
        if diagnostic.severity >= Diagnostic.Error
    ]
    if headers_missing and any("file not found" in error for error in errors):
        raise InputError(f"cannot parse {path}: {errors[0]}: {headers_missing}")
    if errors:
        quoted = "; ".join(errors[:_QUOTED_DIAGNOSTICS])
        more = len(errors) - _QUOTED_DIAGNOSTICS
        raise InputError(f"cannot parse {path}: {quoted}" + (f"; {more} more" if more > 0 else ""))
    return unit


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
            pattern = _ecmascript_escape(str(EXAMPLE_DIR)) + "/.*"
    pattern = pattern or ""
    _check_file(file)
    _check_pattern(pattern)
    try:
        cindex = load_cindex()
    except (LibclangError, LibclangMismatchError) as error:
        raise InputError(str(error)) from None
    headers = builtin_headers(cindex, compiler_arguments, resource_dir)
    if resource_dir is not None and headers.missing:
        raise InputError(headers.missing)
    if headers.note:
        print(f"{PROG}: note: {headers.note}", file=sys.stderr)
    unit = _parse(cindex, file, headers.arguments, headers.missing)
    try:
        result = get_path_to_lineno_to_nodes(unit, pattern)
    except UnicodeDecodeError as error:
        raise InputError(f"a file path is not valid UTF-8: {error}") from None
    except RuntimeError as error:
        raise InputError(str(error)) from None
    nodes = listing(result, unit.spelling)
    return render_json(nodes) if as_json else render_text(nodes)


def main(argv: Optional[Sequence[str]] = None) -> int:
    own, compiler_arguments = _split_compiler_arguments(sys.argv[1:] if argv is None else argv)
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
