"""One libclang for clang.cindex and astsieve.

Handles and cursors are pointers into the libclang copy that made them; a
second copy of libclang in the process would misread them. So clang.cindex
must load the very file that the astsieve extension links, and a process in
which it already loaded another one is refused with a clear error.
"""

from __future__ import annotations

import ctypes
import importlib
import os
from types import ModuleType
from typing import Any, Optional

from ._libclang import LIBCLANG_FILE

__all__ = ["LIBCLANG_FILE", "LibclangMismatchError", "load_cindex", "mapped_file"]

# Any libclang function serves to find the file it comes from; this is the
# one every traversal goes through.
_PROBE_SYMBOL = "clang_visitChildren"


class LibclangMismatchError(RuntimeError):
    """clang.cindex uses a libclang file other than the one astsieve links."""


def mapped_file(address: int, maps_path: str = "/proc/self/maps") -> Optional[str]:
    """Returns the real path of the file mapped at `address` in this process.

    None when no file is mapped there. Symbolic links are resolved, so two
    names of one file give the same answer.
    """
    with open(maps_path, encoding="utf-8", errors="surrogateescape") as maps:
        for row in maps:
            # start-end perms offset dev inode [path]; the path may hold spaces.
            fields = row.rstrip("\n").split(maxsplit=5)
            start, _, end = fields[0].partition("-")
            if int(start, 16) <= address < int(end, 16):
                if len(fields) < 6 or not fields[5].startswith("/"):
                    return None
                return os.path.realpath(fields[5])
    return None


def _symbol_file(library: Any) -> Optional[str]:
    function = getattr(library, _PROBE_SYMBOL)
    address = ctypes.cast(function, ctypes.c_void_p).value
    if address is None:
        return None
    try:
        return mapped_file(address)
    except OSError:  # no /proc: the answer is unknown, not "no file"
        return None


def _linked_file() -> Optional[str]:
    # Opening the loaded extension again yields its own handle; symbol lookup
    # through that handle searches the libraries it depends on, so this finds
    # the libclang the extension really calls.
    import astsieve

    return _symbol_file(ctypes.CDLL(astsieve.__file__))


def _cindex_has_loaded(cindex: ModuleType) -> bool:
    return bool(cindex.Config.loaded) or "lib" in vars(cindex.conf)


def _mismatch(what: str, other: str, linked: str) -> LibclangMismatchError:
    return LibclangMismatchError(
        f"clang.cindex {what} {other}, but astsieve links {linked}; "
        "call astsieve_cindex.load_cindex() before anything else uses clang.cindex "
        "and leave its library file unset"
    )


def load_cindex() -> ModuleType:
    """Returns clang.cindex with the libclang file astsieve links loaded.

    Call it before anything else makes clang.cindex load a library. Raises
    LibclangMismatchError when clang.cindex has already loaded another file,
    or is configured to load one.
    """
    cindex = importlib.import_module("clang.cindex")
    linked = _linked_file() or os.path.realpath(LIBCLANG_FILE)
    if not _cindex_has_loaded(cindex):
        configured = cindex.Config.library_file
        if configured is not None and os.path.realpath(configured) != linked:
            raise _mismatch("is set to load", os.fspath(configured), linked)
        cindex.Config.set_library_file(LIBCLANG_FILE)
    loaded = _symbol_file(cindex.conf.lib)
    if loaded is None:
        raise LibclangMismatchError(
            f"cannot tell which libclang file clang.cindex loaded; astsieve links {linked}"
        )
    if loaded != linked:
        raise _mismatch("has already loaded", loaded, linked)
    return cindex
