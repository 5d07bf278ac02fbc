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
from types import ModuleType
from typing import Tuple

from . import _native

__all__ = ["LibclangMismatchError", "libclang_file", "load_cindex"]


class LibclangMismatchError(RuntimeError):
    """The process holds more than one libclang file."""


def _loaded_cindex() -> Tuple[ModuleType, str]:
    cindex = importlib.import_module("clang.cindex")
    library = cindex.conf.lib  # loads the library once; raises cindex's own error if it cannot
    # Any function clang.cindex calls tells the file it calls into; the
    # engine's lookup checks that it is the one libclang file loaded. A
    # library that is no libclang may lack it.
    function = getattr(library, "clang_getTranslationUnitCursor", None)
    address = 0 if function is None else ctypes.cast(function, ctypes.c_void_p).value or 0
    try:
        file = _native.libclang_file(address)
    except RuntimeError as error:  # two different files, as the engine words it
        raise LibclangMismatchError(str(error)) from None
    if file is None:
        raise LibclangMismatchError("cannot tell which libclang file clang.cindex loaded")
    return cindex, file


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
