"""How the commands fail: the one error class for input a command cannot
work on, and the one place that turns it, Ctrl-C, a reader gone away and
output that cannot be written into one line on stderr and the exit status."""

from __future__ import annotations

import os
import sys
from typing import Callable

from tqdm import tqdm

__all__ = [
    "INTERRUPTED",
    "LIST",
    "PROG",
    "CommandError",
    "prog",
    "report",
    "run_command",
    "write_output",
]

PROG = "python -m astsieve_cindex"
LIST = "list"  # the default command
INTERRUPTED = 130


class CommandError(Exception):
    """Input a command cannot work on; the message is one line."""


def prog(command: str) -> str:
    """The name a command's usage and messages go under; the default
    command's are the program's own."""
    return PROG if command == LIST else f"{PROG} {command}"


def report(command: str, kind: str, message: str) -> None:
    """One line on stderr, above the progress bar if there is one."""
    line = " ".join(message.splitlines())
    tqdm.write(f"{prog(command)}: {kind}: {line}", file=sys.stderr)


def _discard_output() -> None:
    # What stays in stdout's buffer goes nowhere when Python flushes it at
    # exit, instead of failing once more there.
    os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())


def write_output(text: str) -> None:
    """Writes `text` to stdout at once; CommandError when it cannot be
    written (a full disk, an output file gone bad)."""
    try:
        sys.stdout.write(text)
        sys.stdout.flush()
    except BrokenPipeError:
        raise
    except OSError as error:
        _discard_output()
        raise CommandError(f"cannot write the output: {error.strerror or error}") from None


def _names_as_given(stream: object) -> None:
    # A file name that is not UTF-8 is a str with surrogate escapes (as
    # os.fsdecode makes it): text output gives back its bytes.
    reconfigure = getattr(stream, "reconfigure", None)
    if reconfigure is not None:
        reconfigure(errors="surrogateescape")


def run_command(command: str, body: Callable[[], int]) -> int:
    """Runs a command's body and turns its failures into one line on stderr
    and an exit status: 1 for errors, 130 after Ctrl-C, 0 when the reader of
    the output has gone (`| head`), which is no error of ours."""
    if sys.stdout is None:  # started with stdout closed (>&-)
        report(command, "error", "cannot write the output: standard output is closed")
        return 1
    _names_as_given(sys.stdout)
    _names_as_given(sys.stderr)
    try:
        return body()
    except CommandError as error:
        report(command, "error", str(error))
        return 1
    except KeyboardInterrupt:
        report(command, "error", "interrupted")
        return INTERRUPTED
    except BrokenPipeError:
        _discard_output()
        return 0
