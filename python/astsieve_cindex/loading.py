"""One libclang for clang.cindex and astsieve.

Handles and cursors are pointers into the libclang copy that made them, and
astsieve calls whichever libclang the process has loaded. So the process
must hold exactly one libclang file: load_cindex() lets clang.cindex load its
library (its default, or the file set with Config.set_library_file) and
refuses a process in which another libclang file is loaded as well.
"""

from __future__ import annotations

import ctypes
import importlib
import os
from types import ModuleType
from typing import Any, List, Optional, Tuple

import _ctypes

__all__ = [
    "LibclangMismatchError",
    "libclang_file",
    "library_file_of",
    "load_cindex",
    "loaded_libclang_files",
    "mapped_file",
]

# Every libclang defines it, and its address tells which file does.
_PROBE_SYMBOL = "clang_visitChildren"


class LibclangMismatchError(RuntimeError):
    """The process holds more than one libclang file."""


def _map_rows(maps_path: str) -> List[List[str]]:
    # start-end perms offset dev inode [path]; the path may hold spaces.
    with open(maps_path, encoding="utf-8", errors="surrogateescape") as maps:
        return [row.rstrip("\n").split(maxsplit=5) for row in maps]


def mapped_file(address: int, maps_path: str = "/proc/self/maps") -> Optional[str]:
    """Returns the real path of the file mapped at `address` in this process.

    None when no file is mapped there. Symbolic links are resolved, so two
    names of one file give the same answer.
    """
    for fields in _map_rows(maps_path):
        start, _, end = fields[0].partition("-")
        if int(start, 16) <= address < int(end, 16):
            if len(fields) < 6 or not fields[5].startswith("/"):
                return None
            return os.path.realpath(fields[5])
    return None


def library_file_of(library: Any) -> Optional[str]:
    """The real path of the libclang file that `library` (a ctypes handle,
    such as clang.cindex.conf.lib) calls into; None when it cannot be told."""
    function = getattr(library, _PROBE_SYMBOL)
    address = ctypes.cast(function, ctypes.c_void_p).value
    if address is None:
        return None
    try:
        return mapped_file(address)
    except OSError:  # no /proc: the answer is unknown, not "no file"
        return None


def _defines_libclang(path: str) -> bool:
    # Only a loaded object opens with RTLD_NOLOAD. An object that merely
    # depends on a libclang finds the probe too, in that libclang, so the
    # probe must lie in the object itself.
    try:
        library = ctypes.CDLL(path, mode=os.RTLD_NOLOAD | os.RTLD_LAZY)
    except OSError:
        return False
    try:
        return library_file_of(library) == os.path.realpath(path)
    except AttributeError:
        return False
    finally:
        _ctypes.dlclose(library._handle)


def loaded_libclang_files(maps_path: str = "/proc/self/maps") -> List[str]:
    """The real paths of the libclang files loaded in this process, sorted."""
    code_files = {
        fields[5]
        for fields in _map_rows(maps_path)
        if len(fields) == 6 and "x" in fields[1] and fields[5].startswith("/")
    }
    return sorted({os.path.realpath(path) for path in code_files if _defines_libclang(path)})


def _loaded_cindex() -> Tuple[ModuleType, str]:
    cindex = importlib.import_module("clang.cindex")
    cindex.conf.lib  # loads the library once; raises cindex's own error if it cannot
    files = loaded_libclang_files()
    if len(files) > 1:
        raise LibclangMismatchError(
            f"two different libclang files are loaded in this process, {files[0]} and "
            f"{files[1]}: handles and cursors of one mean nothing to the other, so load only "
            "one of them"
        )
    if not files:
        raise LibclangMismatchError("cannot tell which libclang file clang.cindex loaded")
    return cindex, files[0]


def load_cindex() -> ModuleType:
    """Returns clang.cindex with its libclang loaded.

    clang.cindex loads its default library, or the file set with
    Config.set_library_file, unless it has done so already. Raises
    LibclangMismatchError when another libclang file is loaded in the process
    as well.
    """
    return _loaded_cindex()[0]


def libclang_file() -> str:
    """The real path of the libclang file that clang.cindex and astsieve use.

    Loads it through load_cindex() first.
    """
    return _loaded_cindex()[1]
