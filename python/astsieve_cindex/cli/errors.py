"""How the commands fail: the one error class for input a command cannot
work on, and the one place that turns it, Ctrl-C and a reader gone away
into one line on stderr and the exit status."""

from __future__ import annotations

import os
import sys
from typing import Callable

from tqdm import tqdm

__all__ = ["INTERRUPTED", "LIST", "PROG", "CommandError", "prog", "report", "run_command"]

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


def run_command(command: str, body: Callable[[], int]) -> int:
    """Runs a command's body and turns its failures into one line on stderr
    and an exit status: 1 for errors, 130 after Ctrl-C, 0 when the reader of
    the output has gone (`| head`), which is no error of ours."""
    try:
        return body()
    except CommandError as error:
        report(command, "error", str(error))
        return 1
    except KeyboardInterrupt:
        report(command, "error", "interrupted")
        return INTERRUPTED
    except BrokenPipeError:
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return 0
