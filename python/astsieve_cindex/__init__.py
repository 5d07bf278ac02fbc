"""Use astsieve together with clang.cindex in one process."""

from __future__ import annotations

from ._libclang import LIBCLANG_FILE

__all__ = ["LIBCLANG_FILE", "load_cindex"]


def load_cindex():
    """Returns clang.cindex configured to load the libclang file astsieve links.

    Call it before clang.cindex loads any library: two copies of libclang in
    one process would hand handles of one to the other.
    """
    import clang.cindex as cindex

    if not cindex.Config.loaded:
        cindex.Config.set_library_file(LIBCLANG_FILE)
    return cindex
