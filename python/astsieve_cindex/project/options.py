"""What a scan is asked to do, in one picklable value that goes with every
unit to its worker."""

from __future__ import annotations

import dataclasses
from typing import Any, Optional, Tuple

__all__ = ["ScanOptions"]


@dataclasses.dataclass(frozen=True)
class ScanOptions:
    """How units are scanned.

    `pattern`: an ECMAScript regular expression; a file whose whole path
    matches it is accepted beside each unit's main file.
    `encoding`: None for each unit's table, or the name of an output
    format's encoding (formats.ENCODINGS: "jsonl", "arrow") for its output
    encoded by file.
    `unsaved`: files (path, text), as bytes, read in place of those on disk.
    `cache`: a folder whose entries spare the parse of units whose files
    are unchanged (project/cache.py).
    `jobs`: worker processes (by default one per core); `timeout`: seconds
    after which a unit's worker is killed (by default none).
    `strict`: a unit libclang reports errors for fails (a UnitFailure)
    instead of giving its result with the errors in its diagnostics.
    """

    pattern: str = ""
    encoding: Optional[str] = None
    unsaved: Tuple[Tuple[bytes, bytes], ...] = ()
    cache: Optional[str] = None
    jobs: Optional[int] = None
    timeout: Optional[float] = None
    strict: bool = False

    def replace(self, **changes: Any) -> "ScanOptions":
        return dataclasses.replace(self, **changes)
