"""The units of a project: its compilation database, or files named with
compiler arguments.

A unit is a source file, the arguments libclang parses it with and the
directory they are relative to, and the compiler of its command. The
database's commands lose what only the compiler needs: the compiler word,
the source file, `-c` and `-o OUTPUT`; and -Werror, so that a warning only
clang gives stays a warning. The target the compiler's name implies is
added.
"""

from __future__ import annotations

import json
import os
from types import ModuleType
from typing import Any, Dict, Iterable, List, NamedTuple, Sequence, Tuple, Union

from ..loading import load_cindex
from ..names import name_text
from .compilers import implied_target, target_given

__all__ = [
    "DATABASE_FILE",
    "DatabaseError",
    "Unit",
    "explicit_units",
    "read_database",
    "select_units",
    "with_implied_target",
]

DATABASE_FILE = "compile_commands.json"


class DatabaseError(Exception):
    """A compilation database that is missing or cannot be read; one line."""


class Unit(NamedTuple):
    """One file to parse: an absolute path, libclang's arguments (without the
    compiler and the file) and the working directory they are relative to;
    and the compiler the database's command names, as it names it ("" for a
    file named on the command line)."""

    file: str
    arguments: Tuple[str, ...]
    directory: str
    compiler: str = ""

    def parse_arguments(self) -> List[str]:
        """The arguments with the working directory made known to libclang."""
        return [f"-working-directory={self.directory}", *self.arguments]


def _compiler_arguments(arguments: Sequence[str], directory: str, file: str) -> Tuple[str, ...]:
    kept: List[str] = []
    words = iter(arguments[1:])  # the first is the compiler
    for word in words:
        if word == "-o":
            next(words, None)
        elif word in ("-c", "-Werror") or word.startswith("-Werror="):
            continue
        elif word.startswith("-o") and len(word) > 2:
            continue
        elif not word.startswith("-") and os.path.normpath(os.path.join(directory, word)) == file:
            continue  # the source file, however the command spells it
        else:
            kept.append(word)
    return tuple(kept)


def with_implied_target(arguments: Sequence[str], compiler: str) -> Tuple[str, ...]:
    """`arguments` with the target the name of `compiler` implies first,
    unless they choose one."""
    target = implied_target(compiler)
    if target is None or target_given(arguments):
        return tuple(arguments)
    return (f"--target={target}", *arguments)


def _database_folder(path: str) -> str:
    if os.path.isdir(path):
        folder = path
    elif os.path.basename(path) == DATABASE_FILE:
        folder = os.path.dirname(path) or "."
    elif os.path.exists(path):
        raise DatabaseError(
            f"{path} is no compilation database: give a build folder or its {DATABASE_FILE}"
        )
    else:
        raise DatabaseError(f"no such build folder: {path}")
    if not os.path.isfile(os.path.join(folder, DATABASE_FILE)):
        raise DatabaseError(f"no compilation database: {folder} holds no {DATABASE_FILE}")
    return folder


def _check_entries(path: str) -> None:
    # libclang's reader accepts some broken files in part and explains on the
    # process's own stderr; this says what is wrong, in one line.
    try:
        with open(path, encoding="utf-8") as stream:
            entries = json.load(stream)
    except (OSError, UnicodeDecodeError) as error:
        raise DatabaseError(f"cannot read {path}: {error}") from None
    except json.JSONDecodeError as error:
        raise DatabaseError(f"cannot read {path}: not JSON: {error}") from None
    if not isinstance(entries, list):
        raise DatabaseError(f"cannot read {path}: not a list of compile commands")
    for number, entry in enumerate(entries, 1):
        valid = (
            isinstance(entry, dict)
            and isinstance(entry.get("directory"), str)
            and isinstance(entry.get("file"), str)
            and (isinstance(entry.get("command"), str) or isinstance(entry.get("arguments"), list))
        )
        if not valid:
            raise DatabaseError(
                f"cannot read {path}: entry {number} lacks a directory, a file, "
                "or a command or arguments"
            )
    if not entries:
        raise DatabaseError(f"{path} lists no files")


def read_database(path: Union[str, "os.PathLike[str]"]) -> List[Unit]:
    """Every unit of the database at `path`, a build folder or its
    compile_commands.json, in the database's order, read with clang.cindex
    (loaded by load_cindex()); DatabaseError when there is none or it cannot
    be read."""
    folder = _database_folder(os.fspath(path))
    _check_entries(os.path.join(folder, DATABASE_FILE))
    cindex = load_cindex()
    try:
        commands = cindex.CompilationDatabase.fromDirectory(folder).getAllCompileCommands()
    except cindex.CompilationDatabaseError:
        raise DatabaseError(
            f"cannot read {os.path.join(folder, DATABASE_FILE)}: not a valid compilation database"
        ) from None
    units = []
    for command in commands or []:
        directory = os.path.abspath(name_text(lambda: command.directory))
        file = os.path.normpath(os.path.join(directory, name_text(lambda: command.filename)))
        words = _command_words(cindex, command)
        arguments = _compiler_arguments(words, directory, file)
        compiler = words[0] if words else ""
        units.append(Unit(file, with_implied_target(arguments, compiler), directory, compiler))
    return units


def _command_words(cindex: ModuleType, command: Any) -> List[str]:
    # One word at a time: clang.cindex's generator of them stops at the
    # first that is not UTF-8.
    # Some bindings (libclang-ng) register the function without its
    # conversion to text and convert in the property instead.
    library = cindex.conf.lib
    count = library.clang_CompileCommand_getNumArgs(command.cmd)

    def word(index: int) -> str:
        found = library.clang_CompileCommand_getArg(command.cmd, index)
        if isinstance(found, cindex._CXString):
            found = cindex._CXString.from_result(found)
        return str(found)

    return [name_text(lambda: word(index)) for index in range(count)]


def explicit_units(
    files: Iterable[str], arguments: Sequence[str], compiler: str = ""
) -> List[Unit]:
    """Units for files named on the command line: the same arguments for
    each, relative to the current directory, and the target the name of
    `compiler`, if given, implies."""
    directory = os.getcwd()
    arguments = with_implied_target(arguments, compiler)
    return [Unit(os.path.abspath(file), arguments, directory, compiler) for file in files]


def select_units(
    database: List[Unit], files: Sequence[str], extra_arguments: Sequence[str]
) -> Tuple[List[Unit], List[str]]:
    """The database's units of `files` (all of them when `files` is empty),
    each with `extra_arguments` added; a file the database does not list
    becomes a unit of its own with `extra_arguments` alone. Also returns the
    files the database does not list."""
    extra = tuple(extra_arguments)
    if not files:
        chosen = list(database)
        missing: List[str] = []
    else:
        by_file: Dict[str, List[Unit]] = {}
        for unit in database:
            by_file.setdefault(os.path.realpath(unit.file), []).append(unit)
        chosen, missing = [], []
        for file in files:
            listed = by_file.get(os.path.realpath(file))
            if listed:
                chosen.extend(listed)
            else:
                missing.append(file)
                chosen.extend(explicit_units([file], ()))
    return [unit._replace(arguments=unit.arguments + extra) for unit in chosen], missing
