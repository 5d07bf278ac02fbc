"""What a project command's options name: libclang with its builtin
headers, the project's units, and the scan to run on them."""

from __future__ import annotations

import argparse
from types import ModuleType
from typing import Any, List, NamedTuple, Optional, Sequence, Tuple

from clang.cindex import LibclangError

from .errors import CommandError, report
from ..loading import LibclangMismatchError, load_cindex
from ..project.builtin_headers import BuiltinHeaders, builtin_headers
from ..project.cache import CacheError, ScanCache
from ..project.known_headers import known_builtin_headers
from ..project.database import DatabaseError, Unit, explicit_units, read_database, select_units
from ..project.options import ScanOptions

__all__ = ["Project", "cindex_and_headers", "project_units", "scan_options"]


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
    --timeout), with `settings` (pattern=..., encoding=...)."""
    return ScanOptions(
        cache=_cache_folder(arguments),
        jobs=arguments.jobs,
        timeout=arguments.timeout,
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
    cache = _cache_folder(arguments)
    headers = cindex_and_headers(compiler_arguments, arguments.resource_dir, cache)[1]
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
