"""What a project command's options name: libclang with its builtin
headers, the project's units, and the scan to run on them."""

from __future__ import annotations

import argparse
import os
from types import MappingProxyType, ModuleType
from typing import Any, List, Mapping, NamedTuple, Optional, Sequence, Tuple

from clang.cindex import LibclangError

from .errors import CommandError, report
from ..loading import LibclangMismatchError, load_cindex
from ..project.builtin_headers import BuiltinHeaders, builtin_headers
from ..project.cache import CacheError, ScanCache
from ..project.compilers import compiler_path
from ..project.known_headers import known_builtin_headers
from ..project.database import (
    DatabaseError,
    Unit,
    explicit_units,
    read_database,
    select_units,
    with_implied_target,
)
from ..project.options import ScanOptions
from ..project.query_driver import DriverQueries

__all__ = [
    "Project",
    "cindex_and_headers",
    "command_line_compiler",
    "project_units",
    "queried",
    "scan_options",
]


def _cache_folder(arguments: argparse.Namespace) -> Optional[str]:
    """The --cache folder as the workers use it, made if missing; CommandError
    when it cannot be read or written."""
    if arguments.cache is None:
        return None
    try:
        return ScanCache(arguments.cache).folder
    except CacheError as error:
        raise CommandError(str(error)) from None


def scan_options(arguments: argparse.Namespace, **settings: Any) -> ScanOptions:
    """The scan a project command's options ask for (--cache, --jobs,
    --timeout, --strict), with `settings` (pattern=..., encoding=...)."""
    return ScanOptions(
        cache=_cache_folder(arguments),
        jobs=arguments.jobs,
        timeout=arguments.timeout,
        strict=arguments.strict,
        **settings,
    )


def cindex_and_headers(
    compiler_arguments: Sequence[str], resource_dir: Optional[str], cache: Optional[str] = None
) -> Tuple[ModuleType, BuiltinHeaders]:
    """clang.cindex with its libclang loaded, and the builtin headers to parse
    with (the finder's answer kept in the `cache` folder, if any);
    CommandError when libclang cannot be loaded, or when the resource
    directory given has no builtin headers."""
    try:
        cindex = load_cindex()
    except (LibclangError, LibclangMismatchError) as error:
        raise CommandError(str(error)) from None
    if resource_dir is None:
        headers = known_builtin_headers(cindex, compiler_arguments, cache)
    else:
        headers = builtin_headers(cindex, compiler_arguments, resource_dir)
    if resource_dir is not None and headers.missing:
        raise CommandError(headers.missing)
    return cindex, headers


class Project(NamedTuple):
    """The units to scan, why a header may not be found (clang's builtin
    headers are missing), if they are, and those whose compiler was asked
    for its target and headers (--query-driver), with whether it answered."""

    units: List[Unit]
    headers_missing: Optional[str]
    asked: Mapping[Unit, bool] = MappingProxyType({})


def command_line_compiler(compiler_arguments: Sequence[str]) -> Tuple[str, List[str]]:
    """The compiler that the arguments after -- begin with, as a database's
    command does (a program found from here), and the arguments after it
    with the target its name implies; "" and all of them when they begin
    otherwise."""
    words = list(compiler_arguments)
    if words and not words[0].startswith("-") and compiler_path(words[0], os.getcwd()):
        return words[0], list(with_implied_target(words[1:], words[0]))
    return "", words


def queried(
    command: str, query_driver: Optional[str], verbose: bool, units: List[Unit]
) -> Tuple[List[Unit], Mapping[Unit, bool]]:
    """`units` with the answers of their compilers that `query_driver`
    (--query-driver GLOBS) allows, and the units whose compiler was asked,
    with whether it answered; the units as they are without it. With
    `verbose`, a note counts the compiler runs."""
    if not query_driver:
        return units, MappingProxyType({})
    queries = DriverQueries(query_driver, lambda text: report(command, "note", text))
    units = queries.units(units)
    if verbose and queries.answers:
        runs = len(queries.answers)
        report(
            command,
            "note",
            f"--query-driver: ran compilers {runs} time{'s' * (runs != 1)} for "
            f"{len(units)} units, once per compiler and set of target flags",
        )
    return units, MappingProxyType(queries.asked)


def project_units(
    command: str,
    arguments: argparse.Namespace,
    files: Sequence[str],
    compiler_arguments: Sequence[str],
    cache: Optional[str] = None,
) -> Project:
    """The units a command line names: the database's (all, or those of
    `files`) with the compiler arguments added, or `files` alone; with
    clang's builtin headers when the loaded libclang lacks its own (the
    finder's answer kept in the `cache` folder, scan_options' own)."""
    compiler = ""
    if arguments.build is None:
        compiler, compiler_arguments = command_line_compiler(compiler_arguments)
    headers = cindex_and_headers(compiler_arguments, arguments.resource_dir, cache)[1]
    if headers.note:
        report(command, "note", headers.note)
    extra = list(headers.arguments)
    if arguments.build is None:
        if not files:
            raise CommandError("give a build folder with -p BUILD, or files to parse")
        units = explicit_units(files, extra, compiler)
    else:
        units = _database_units(command, arguments.build, files, extra)
    units, queries = queried(command, arguments.query_driver, arguments.verbose, units)
    return Project(units, headers.missing, queries)


def _database_units(
    command: str, build: str, files: Sequence[str], extra: Sequence[str]
) -> List[Unit]:
    try:
        database = read_database(build)
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
    return units
