"""ctypes access to the native walks of bench/walk_probe.cpp: the floor and
the engine returning its C++ result, run on clang.cindex's own unit and
cursors in this process."""

from __future__ import annotations

import ctypes
from typing import NamedTuple

from astsieve_cindex import translation_unit_handle

UNIT_WALK, SUBTREE_WALK, CHILDREN_WALK = 0, 1, 2


class _ProbeResult(ctypes.Structure):
    _fields_ = [
        ("visited", ctypes.c_uint64),
        ("returned", ctypes.c_uint64),
        ("ns", ctypes.c_double),
    ]


class NativeRun(NamedTuple):
    visited: int  # the floor's count of nodes looked up; 0 for the engine
    returned: int
    ns: float


class WalkProbe:
    def __init__(self, library_path: str, cindex):
        library = ctypes.CDLL(library_path)
        self._walks = {}
        for side in ("floor", "engine"):
            function = getattr(library, f"astsieve_probe_{side}")
            function.restype = ctypes.c_int
            function.argtypes = [
                ctypes.c_int,
                ctypes.c_uint64,
                ctypes.POINTER(cindex.Cursor),
                ctypes.c_char_p,
                ctypes.c_char_p,
                ctypes.POINTER(_ProbeResult),
            ]
            self._walks[side] = function

    def run(self, side: str, walk: int, target, pattern: str, main_path: str) -> NativeRun:
        """`target` is a clang.cindex unit for UNIT_WALK, else a cursor."""
        out = _ProbeResult()
        if walk == UNIT_WALK:
            unit, cursor = translation_unit_handle(target), None
        else:
            unit, cursor = 0, target
        status = self._walks[side](
            walk,
            unit,
            ctypes.byref(cursor) if cursor is not None else None,
            pattern.encode(),
            main_path.encode(),
            ctypes.byref(out),
        )
        if status != 0:
            raise RuntimeError(f"native {side} walk failed")
        return NativeRun(out.visited, out.returned, out.ns)
