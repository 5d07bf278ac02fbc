"""--query-driver: asking a unit's own compiler for its target and system
include directories, for compilers libclang cannot stand in for (a cross
compiler and its C library).

A compiler the allowlist matches is run once per distinct set of the flags
that change its target or headers, `COMPILER FLAGS -E -v -x LANG
/dev/null`, in the parent process; each of its units is then parsed with
that target, without clang's default system directories
(-nostdlibinc, which keeps clang's builtin headers first) and with the
compiler's directories after them, in its order. The answers end up in
the units' arguments, so workers run no compiler and the cache's identity
of a unit holds them.
"""

from __future__ import annotations

import os
import re
import subprocess
from typing import Callable, Dict, List, NamedTuple, Optional, Sequence, Set, Tuple

from .compilers import allowlist, compiler_path, implied_target
from .database import Unit

__all__ = ["QUERY_SECONDS", "Answer", "DriverQueries", "ask_compiler", "query_key"]

# How long a compiler may take to answer.
QUERY_SECONDS = 10.0
# Flags that take their value as the next word and change the target or
# the headers; their value a path when marked so.
_SEPARATE = {"-target": False, "--sysroot": True, "-isysroot": True, "-x": False}
_JOINED = ("--target=", "--sysroot=", "-march=", "-std=", "-stdlib=")
_NOT_TARGET = ("-mllvm",)  # passes options on, changes neither
_CPLUSPLUS = (".cc", ".cp", ".cpp", ".cxx", ".c++", ".C", ".CPP", ".hh", ".hpp", ".hxx", ".ii")
_OBJECTIVE = {".m": "objective-c", ".mm": "objective-c++"}


class Answer(NamedTuple):
    """What a compiler says of itself: its target and its system include
    directories, in its search order."""

    target: str
    directories: Tuple[str, ...]

    def arguments(self) -> Tuple[str, ...]:
        """libclang's arguments for a unit of this compiler."""
        after = (word for directory in self.directories for word in ("-idirafter", directory))
        return (f"--target={self.target}", "-nostdlibinc", *after)


def _language(unit: Unit, given: Optional[str]) -> str:
    if given:
        return given
    extension = os.path.splitext(unit.file)[1]
    if extension in _OBJECTIVE:
        return _OBJECTIVE[extension]
    cplusplus = extension in _CPLUSPLUS or unit.compiler.endswith("++")
    return "c++" if cplusplus else "c"


def query_key(unit: Unit) -> Tuple[str, Tuple[str, ...]]:
    """The language of `unit` and the flags of its arguments that change
    its compiler's target or headers (paths made absolute): units alike in
    both get one answer from one compiler."""
    flags: List[str] = []
    language = None
    # The target its name implies is no flag of the compiler's.
    implied = f"--target={implied_target(unit.compiler)}"
    words = iter(word for word in unit.arguments if word != implied)
    for word in words:
        if word in _SEPARATE:
            value = next(words, "")
            if word == "-x":
                language = value
                continue
            if _SEPARATE[word]:
                value = os.path.join(unit.directory, value)
            flags += [word, value]
        elif word.startswith(("--sysroot=",)):
            flags.append("--sysroot=" + os.path.join(unit.directory, word[len("--sysroot=") :]))
        elif word.startswith(_JOINED) or word in ("-nostdinc", "-nostdinc++", "-nostdlibinc"):
            flags.append(word)
        elif word.startswith("-m") and word not in _NOT_TARGET:
            flags.append(word)
    return _language(unit, language), tuple(flags)


_TARGET = re.compile(r"^Target: (\S+)", re.M)
_SEARCH = re.compile(r"^#include <\.\.\.> search starts here:\n(.*?)^End of search list\.", re.M | re.S)


def ask_compiler(
    path: str, language: str, flags: Sequence[str], directory: str
) -> Tuple[Optional[Answer], str]:
    """Runs the compiler at `path` (one the allowlist matched) with `flags`
    on an empty file of `language`: its answer, or None and why not."""
    command = [path, *flags, "-E", "-v", "-x", language, os.devnull]
    try:
        done = subprocess.run(
            command,
            cwd=directory if os.path.isdir(directory) else None,
            stdin=subprocess.DEVNULL,
            capture_output=True,
            timeout=QUERY_SECONDS,
            check=False,
        )
    except subprocess.TimeoutExpired:
        return None, f"gave no answer within {QUERY_SECONDS:g} s"
    except OSError as error:
        return None, f"cannot be run: {error.strerror or error}"
    text = done.stderr.decode("utf-8", "surrogateescape")
    target, search = _TARGET.search(text), _SEARCH.search(text)
    if done.returncode != 0 or target is None or search is None:
        last = text.strip().splitlines()[-1:] or [f"exit status {done.returncode}"]
        return None, f"failed ({last[0].strip()})"
    directories = []
    for line in search.group(1).splitlines():
        line = line.strip().removesuffix(" (framework directory)")
        if line:
            directories.append(os.path.normpath(os.path.join(directory, line)))
    return Answer(target.group(1), tuple(directories)), ""


class DriverQueries:
    """The answers of the compilers an allowlist (--query-driver GLOBS)
    matches, asked once per compiler, language and flags for one run;
    `note` hears of a compiler that fails, once."""

    def __init__(self, globs: str, note: Callable[[str], None]) -> None:
        self.allowed = allowlist(globs)
        self.note = note
        self.answers: Dict[Tuple[str, str, Tuple[str, ...]], Optional[Answer]] = {}
        self.asked: Set[str] = set()  # the compilers, as the units name them, that answered

    def unit(self, unit: Unit) -> Unit:
        """`unit` with its compiler's answer added to its arguments when the
        allowlist matches its compiler and it answers; else as it is."""
        path = compiler_path(unit.compiler, unit.directory)
        if path is None or not self.allowed.fullmatch(path):
            return unit
        language, flags = query_key(unit)
        key = (path, language, flags)
        if key not in self.answers:
            answer, why = ask_compiler(path, language, flags, unit.directory)
            self.answers[key] = answer
            if answer is None:
                asked = " ".join([path, *flags, "-E", "-v", "-x", language, os.devnull])
                self.note(f"--query-driver: {asked} {why}; its units are parsed without it")
            else:
                self.asked.add(unit.compiler)
        answer = self.answers[key]
        if answer is None:
            return unit
        return unit._replace(arguments=unit.arguments + answer.arguments())

    def units(self, units: Sequence[Unit]) -> List[Unit]:
        return [self.unit(unit) for unit in units]
