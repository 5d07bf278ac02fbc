"""What a scan is asked to do, in one picklable value that goes with every
unit to its worker."""

from __future__ import annotations

import dataclasses
from typing import Any, FrozenSet, Optional, Tuple

__all__ = ["SKIP_BODIES", "SKIP_PREAMBLE_BODIES", "ScanOptions"]

# What a parse may leave out (`skip`): every function body, whose skipped
# ranges stay exact as the preprocessor still runs over the whole unit; or
# the function bodies of the main file's preamble (its leading inclusions),
# whose own declarations and their extents stay as a full parse gives them.
SKIP_BODIES = "bodies"
SKIP_PREAMBLE_BODIES = "preamble bodies"


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
    `skip`: "" to parse everything, or SKIP_BODIES or SKIP_PREAMBLE_BODIES.
    `known`: the keys (SectionFilter's) of sections the writing process
    already has: a worker leaves them out of its result, not encoding them.
    """

    pattern: str = ""
    encoding: Optional[str] = None
    unsaved: Tuple[Tuple[bytes, bytes], ...] = ()
    cache: Optional[str] = None
    jobs: Optional[int] = None
    timeout: Optional[float] = None
    strict: bool = False
    skip: str = ""
    known: FrozenSet[Tuple[str, str, str]] = frozenset()

    def replace(self, **changes: Any) -> "ScanOptions":
        return dataclasses.replace(self, **changes)
