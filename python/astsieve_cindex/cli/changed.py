"""python -m astsieve_cindex changed: the declarations a unified diff
touches, in the files a project's compilation database reaches."""

from __future__ import annotations

import argparse
import json
import os
import sys
from typing import Dict, List, NamedTuple, Optional, Sequence, Set, Tuple, Union

from ..project.cache import ScanCache
from ..changed.diff import (
    BaseError,
    Diff,
    DiffError,
    HeaderCoverage,
    Inactive,
    Removed,
    Touched,
    diff_pattern,
    header_candidates,
    is_c_file,
    old_texts,
    read_diff,
    real_path,
    removed_declarations,
    touched_declarations,
)
from .errors import PROG, CommandError, report, write_output
from .options import Commands, Project, cache_folder, project_parser, project_units
from .running import report_diagnostics, run_units
from ..project.database import Unit
from ..project.scan import UnitResult

__all__ = ["add_parser", "run"]

COMMAND = "changed"


def add_parser(commands: Commands) -> None:
    parser = project_parser(
        commands,
        COMMAND,
        "the declarations a unified diff touches, in a project's files",
        "-p BUILD [DIFF] [--root DIR] [--base REV] [--all-units] [--json] [--jobs N] "
        "[--timeout SECONDS] [--resource-dir DIR] [--verbose] [--cache DIR]",
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


class _Paths(NamedTuple):
    """The diff's paths by what can read them, known before any parse."""

    own: List[str]  # the source of a unit
    included: List[str]  # another C or C++ file, which any unit may include
    other: List[str]  # no C or C++ file by its name; a unit may still include it


def _sort_paths(changed: Sequence[str], root: str, units: List[Unit]) -> _Paths:
    sources = {real_path(unit.file) for unit in units}
    paths = _Paths([], [], [])
    for path in changed:
        real = real_path(os.path.join(root, path))
        if real in sources:
            paths.own.append(path)
        elif not is_c_file(path):
            paths.other.append(path)
        elif os.path.isfile(real):  # none is read from under the wrong --root
            paths.included.append(path)
    return paths


class _Parsing:
    """Parses the units asked for in `jobs` workers, keeping the results,
    which units were parsed, and the failures, warnings and errors."""

    def __init__(
        self,
        arguments: argparse.Namespace,
        project: Project,
        pattern: str,
        cache: Optional[str] = None,
    ) -> None:
        self.arguments = arguments
        self.project = project
        self.pattern = pattern
        self.cache = cache
        self._readers: Optional[Dict[str, Set[Tuple[str, Tuple[str, ...], str]]]] = None
        self.results: List[UnitResult] = []
        self.failed = self.warnings = self.errors = 0
        self.parsed: Set[int] = set()  # the ids of the units parsed
        self.count = 0  # units parsed, at the base revision too

    def run(
        self, units: Sequence[Unit], unsaved: Tuple[Tuple[bytes, bytes], ...] = ()
    ) -> List[UnitResult]:
        results: List[UnitResult] = []
        if units:
            self.parsed.update(map(id, units))
            self.count += len(units)
            outcome = run_units(
                COMMAND,
                self.project._replace(units=list(units)),
                self.pattern,
                self.arguments.jobs,
                self.arguments.timeout,
                results.append,
                self.arguments.verbose,
                unsaved=unsaved,
                summary=False,
                cache=self.cache,
            )
            self.failed += outcome.failed
            self.warnings += outcome.warnings
            self.errors += outcome.errors
        return results

    def known_readers(self, header: str) -> List[Unit]:
        """The units the cache's entries say read `header` (a real path):
        a hint of where to look first; the parse tells for sure."""
        if self.cache is None:
            return []
        if self._readers is None:
            self._readers = {}
            for identity, files in ScanCache(self.cache).files_read():
                unit_key = (
                    str(identity.get("file")),
                    tuple(map(str, identity.get("arguments") or ())),
                    str(identity.get("directory")),
                )
                for file in files:
                    self._readers.setdefault(real_path(file), set()).add(unit_key)
        readers = self._readers.get(header, set())
        return [u for u in self.project.units if (u.file, u.arguments, u.directory) in readers]


def _parse_new_side(
    parsing: _Parsing, changed: Dict[str, Set[int]], paths: _Paths, root: str
) -> Set[str]:
    # Changed sources need their own units; a changed header one unit that
    # reads it, or more where its changed lines are skipped in those parsed
    # (all with --all-units); other files none. The headers that needed
    # more units, whose lines depend on the unit.
    units = parsing.project.units
    if paths.included and parsing.arguments.all_units:
        parsing.results += parsing.run(units)
        return set(paths.included)
    wanted = {real_path(os.path.join(root, path)) for path in paths.own}
    parsing.results += parsing.run([unit for unit in units if real_path(unit.file) in wanted])
    coverage = HeaderCoverage(changed, root, paths.included)
    for result in parsing.results:
        coverage.add(result)
    # `jobs` units at first, twice as many each time after: a header that
    # no unit includes costs few pools of workers.
    batch = parsing.arguments.jobs or os.cpu_count() or 1
    noted: Set[str] = set()
    while coverage.pending():
        header = coverage.pending()[0]
        header_path = real_path(os.path.join(root, header))
        candidates = header_candidates(header_path, units, parsing.known_readers(header_path))
        units_left = [unit for unit in candidates if id(unit) not in parsing.parsed][:batch]
        if not units_left:  # every unit was parsed
            break
        if header in coverage.reached and header not in noted:
            noted.add(header)
            lines = ", ".join(map(str, coverage.skipped_lines(header)))
            report(
                COMMAND,
                "note",
                f"{_printable(header)}: changed lines {lines} are skipped by the preprocessor "
                "in the units parsed so far; parsing more units, which may read them",
            )
        for result in parsing.run(units_left):
            parsing.results.append(result)
            coverage.add(result)
        batch *= 2
    return noted


def _parse_old_side(
    parsing: _Parsing, diff: Diff, texts: Dict[str, bytes], root: str, varying: Set[str]
) -> List[UnitResult]:
    # For each file the diff removes lines from, the first parsed unit that
    # read it, or all that did for the `varying` headers; parsed again with
    # every changed file as it was.
    wanted = {real_path(os.path.join(root, path)): path in varying for path in diff.removed}
    units = []
    for result in parsing.results:
        read = {real_path(file) for file in result.files} & set(wanted)
        if read:
            units.append(result.unit)
            wanted = {file: every for file, every in wanted.items() if every or file not in read}
    unsaved = tuple(
        (os.fsencode(os.path.abspath(os.path.join(root, path))), text)
        for path, text in texts.items()
    )
    return parsing.run(units, unsaved)


def _printable(text: str) -> str:
    # Bytes of a path that are not UTF-8 shown as \xNN.
    return text.encode("utf-8", "surrogateescape").decode("utf-8", "backslashreplace")


def _listed(paths: Sequence[str]) -> str:
    return _printable(", ".join(paths))


def _lines(touched: Union[Touched, Removed]) -> str:
    said = []
    if touched.lines:
        said.append("changed lines " + ", ".join(map(str, touched.lines)))
    if touched.removed:
        said.append("removed lines " + ", ".join(map(str, touched.removed)))
    return "; ".join(said)


def _text(touched: Union[Touched, Inactive, Removed]) -> str:
    lines = ", ".join(map(str, touched.lines))
    if isinstance(touched, Removed):
        declaration = touched.declaration
        return (
            f"{_printable(declaration.file)}:{declaration.first_line}-{declaration.last_line}: "
            f"removed: {declaration.kind} {declaration.name} ({_lines(touched)})\n"
        )
    if isinstance(touched, Inactive):
        return (
            f"{_printable(touched.file)}:{touched.first_line}-{touched.last_line}: inactive: "
            "skipped by "
            f"the preprocessor (changed lines {lines})\n"
        )
    declaration = touched.declaration
    return (
        f"{_printable(declaration.file)}:{declaration.first_line}-{declaration.last_line}: "
        f"{declaration.kind} {declaration.name} ({_lines(touched)})\n"
    )


def _json(touched: Union[Touched, Inactive, Removed], base: bool) -> str:
    if isinstance(touched, Inactive):
        fields = {"change": "inactive", **touched._asdict()}
        del fields["lines"]
    else:
        change = "removed" if isinstance(touched, Removed) else "declaration"
        fields = {"change": change, **touched.declaration._asdict()}
    fields["changed_lines"] = list(touched.lines)
    if base:
        fields["removed_lines"] = list(getattr(touched, "removed", ()))
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
    try:
        diff = read_diff(_read_diff(arguments.diff or "-"))
        texts = old_texts(diff, arguments.root, arguments.base) if arguments.base else {}
    except (DiffError, BaseError) as error:
        raise CommandError(str(error)) from None
    changed = diff.changed
    if not changed:  # nothing, or only files deleted
        return _nothing(arguments, "no declarations touched")
    if not any(map(is_c_file, changed)):
        return _nothing(arguments, "no C or C++ file changed")
    root = arguments.root
    cache = cache_folder(arguments)
    project = project_units(COMMAND, arguments, [], compiler_arguments)
    paths = _sort_paths(list(changed), root, project.units)
    parsing = _Parsing(arguments, project, diff_pattern(changed), cache)
    varying = _parse_new_side(parsing, changed, paths, root)
    results = parsing.results
    new_side, reached = touched_declarations(changed, root, results)
    touched: List[Union[Touched, Inactive, Removed]] = list(new_side)
    parsed = parsing.count
    if arguments.base and not parsing.failed:
        old = _parse_old_side(parsing, diff, texts, root, varying)
        touched = removed_declarations(new_side, diff, root, results, old)
    failed = parsing.failed
    report_diagnostics(COMMAND, parsing.warnings, parsing.errors, arguments.verbose)
    if arguments.verbose:
        again = f", {parsing.count - parsed} again at {arguments.base}" if arguments.base else ""
        report(COMMAND, "note", f"parsed {parsed} of {len(project.units)} units{again}")
    if not reached and not failed:
        raise CommandError(
            "the diff changes no file the compilation database reaches: "
            f"{_listed([path for path in changed if is_c_file(path)])}; its paths are taken "
            f"relative to --root DIR (now {_printable(os.path.abspath(root))}); "
            "for git diff, give the repository's top folder"
        )
    skipped = [path for path in paths.other if path not in reached]
    if skipped:
        report(COMMAND, "note", "skipped, not C or C++: " + _listed(skipped))
    outside = [path for path in changed if is_c_file(path) and path not in reached]
    if outside and not failed:  # a unit that failed may read them
        report(COMMAND, "note", "not reached by the compilation database: " + _listed(outside))
    if touched:
        base = bool(arguments.base)
        render = (lambda entry: _json(entry, base)) if arguments.json else _text
        write_output("".join(map(render, touched)))
    elif not failed:
        _nothing(arguments, "no declarations touched")
    return 1 if failed else 0
