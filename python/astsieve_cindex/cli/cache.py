"""python -m astsieve_cindex cache DIR [--clear]: how many entries a scan
cache folder holds and their size, or removing them."""

from __future__ import annotations

import argparse
import os
from typing import Sequence

from .errors import CommandError, prog, write_output
from .options import Commands
from ..project.cache import CacheError, CacheSize, ScanCache

__all__ = ["add_parser", "run"]

COMMAND = "cache"


def add_parser(commands: Commands) -> None:
    parser = commands.add_parser(
        COMMAND,
        help="the size of a --cache folder, or clearing it",
        prog=prog(COMMAND),
        usage=f"{prog(COMMAND)} [-h] DIR [--clear]",
        description="Print how many unit entries the folder of scan --cache DIR and "
        "changed --cache DIR holds and their bytes on disk; with --clear, remove them.",
        epilog="An entry is taken only while the files its unit read are unchanged, so "
        "clearing is never needed for correct output; it frees the space.",
    )
    parser.add_argument("folder", metavar="DIR", help="the cache folder")
    parser.add_argument("--clear", action="store_true", help="remove every entry")


def _size_text(size: CacheSize) -> str:
    entries = f"{size.entries} entr{'y' if size.entries == 1 else 'ies'}"
    return f"{entries}, {size.bytes} bytes"


def run(arguments: argparse.Namespace, compiler_arguments: Sequence[str]) -> int:
    if compiler_arguments:
        raise CommandError("the cache command takes no compiler arguments")
    if not os.path.isdir(arguments.folder):
        raise CommandError(f"no such cache folder: {arguments.folder}")
    try:
        cache = ScanCache(arguments.folder)
    except CacheError as error:
        raise CommandError(str(error)) from None
    if arguments.clear:
        write_output(f"removed {_size_text(cache.clear())}\n")
    else:
        write_output(f"{cache.folder}: {_size_text(cache.size())}\n")
    return 0
