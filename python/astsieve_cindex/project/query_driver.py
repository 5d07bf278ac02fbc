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
import signal
import subprocess
from typing import Callable, Dict, List, NamedTuple, Optional, Sequence, Tuple

from .compilers import allowlist, compiler_path, implied_target
from .database import Unit

__all__ = ["QUERY_SECONDS", "Answer", "DriverQueries", "ask_compiler", "query_key"]

# How long a compiler may take to answer.
QUERY_SECONDS = 10.0
# The flags passed on to the compiler are the database's that change its
# target or headers, and of those only words that cannot make it run
# another program or read its options from a file: a value is a word of
# these characters (no path, no leading @, -, or space), a path is made
# absolute against the entry's directory. Everything else (-B, -wrapper,
# -specs=, -fplugin=, -fuse-ld=, @FILE, -mllvm ...) stays out of the query.
_VALUE = re.compile(r"[A-Za-z0-9_.+=,:][A-Za-z0-9_.+=,:-]*")
_SEPARATE = {"-target": False, "--sysroot": True, "-isysroot": True}
_JOINED = ("--target=", "-march=", "-std=", "-stdlib=")
_SWITCHES = ("-nostdinc", "-nostdinc++", "-nostdlibinc")
_NOT_TARGET = ("-mllvm",)  # passes options on to the code generator
_LANGUAGES = {
    f"{language}{header}"
    for language in ("c", "c++", "objective-c", "objective-c++")
    for header in ("", "-header")
}
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


def _safe(word: str, prefix: str) -> bool:
    return word.startswith(prefix) and bool(_VALUE.fullmatch(word[len(prefix) :]))


def query_key(unit: Unit) -> Tuple[str, Tuple[str, ...]]:
    """The language of `unit` and the flags of its arguments that change
    its compiler's target or headers (paths made absolute, odd values
    dropped): units alike in both get one answer from one compiler."""
    flags: List[str] = []
    language = None
    # The target its name implies is no flag of the compiler's.
    implied = f"--target={implied_target(unit.compiler)}"
    words = iter(word for word in unit.arguments if word != implied)
    for word in words:
        if word in _SEPARATE or word in ("-x", *_NOT_TARGET):
            value = next(words, "")
            if word == "-x":
                language = value if value in _LANGUAGES else language
            elif _SEPARATE.get(word):
                flags += [word, os.path.join(unit.directory, value)]
            elif word in _SEPARATE and _VALUE.fullmatch(value):
                flags += [word, value]
        elif word.startswith("--sysroot="):
            flags.append("--sysroot=" + os.path.join(unit.directory, word[len("--sysroot=") :]))
        elif word in _SWITCHES or any(_safe(word, prefix) for prefix in _JOINED):
            flags.append(word)
        elif _safe(word, "-m") and not word.startswith(_NOT_TARGET):
            flags.append(word)
    return _language(unit, language), tuple(flags)


_TARGET = re.compile(r"^Target: (\S+)", re.M)
_SEARCH = re.compile(r"^#include <\.\.\.> search starts here:\n(.*?)^End of search list\.", re.M | re.S)


def _run(command: Sequence[str], directory: str, seconds: float) -> Tuple[int, str]:
    # In a session of its own, so that on time out the programs the
    # compiler started (cc1, holding its stderr) go with it.
    with subprocess.Popen(
        command,
        cwd=directory if os.path.isdir(directory) else None,
        stdin=subprocess.DEVNULL,
        stdout=subprocess.DEVNULL,
        stderr=subprocess.PIPE,
        start_new_session=True,
    ) as process:
        try:
            stderr = process.communicate(timeout=seconds)[1]
        except subprocess.TimeoutExpired:
            os.killpg(process.pid, signal.SIGKILL)
            process.communicate()
            raise
    return process.returncode, stderr.decode("utf-8", "surrogateescape")


def ask_compiler(
    path: str,
    language: str,
    flags: Sequence[str],
    directory: str,
    seconds: float = QUERY_SECONDS,
) -> Tuple[Optional[Answer], str]:
    """Runs the compiler at `path` (one the allowlist matched) with `flags`
    on an empty file of `language`, for at most `seconds`: its answer, or
    None and why not."""
    command = [path, *flags, "-E", "-v", "-x", language, os.devnull]
    try:
        returncode, text = _run(command, directory, seconds)
    except subprocess.TimeoutExpired:
        return None, f"gave no answer within {seconds:g} s"
    except OSError as error:
        return None, f"cannot be run: {error.strerror or error}"
    target, search = _TARGET.search(text), _SEARCH.search(text)
    if returncode != 0 or target is None or search is None:
        last = text.strip().splitlines()[-1:] or [f"exit status {returncode}"]
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
        # The units whose compiler was asked, as returned, and whether it
        # answered.
        self.asked: Dict[Unit, bool] = {}

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
        answer = self.answers[key]
        if answer is not None:
            unit = unit._replace(arguments=unit.arguments + answer.arguments())
        self.asked[unit] = answer is not None
        return unit

    def units(self, units: Sequence[Unit]) -> List[Unit]:
        return [self.unit(unit) for unit in units]
