"""What scanning one unit gives: its table, or its output encoded by file;
or, for a unit that gave nothing, why. Each is plain, picklable data."""

from __future__ import annotations

from typing import List, NamedTuple, Tuple, Union

from ..formats.sections import Section
from ..table import NodeRecord, UnitTable, records_of
from .database import Unit
from .diagnostics import DiagnosticLine

__all__ = ["SectionsResult", "TableResult", "Timing", "UnitFailure", "UnitResult"]


class Timing(NamedTuple):
    """Seconds spent parsing, grouping and encoding a unit; all 0 for a
    result taken from the cache."""

    parse: float = 0.0
    group: float = 0.0
    encode: float = 0.0


class TableResult(NamedTuple):
    """A unit's table of nodes, the files it read (the main file first), and
    libclang's warnings and errors, which nothing printed."""

    unit: Unit
    table: UnitTable
    files: Tuple[str, ...]
    diagnostics: Tuple[DiagnosticLine, ...] = ()
    seconds: Timing = Timing()
    cached: bool = False

    @property
    def error(self) -> None:
        """None: the unit gave its result (UnitFailure's is a line)."""
        return None

    @property
    def records(self) -> List[NodeRecord]:
        """The table in row form: one NodeRecord per node."""
        return records_of(self.table)


class SectionsResult(NamedTuple):
    """A unit's output encoded by accepted file, for a SectionFilter to choose
    from; the files it read, and libclang's warnings and errors."""

    unit: Unit
    sections: Tuple[Section, ...]
    files: Tuple[str, ...]
    diagnostics: Tuple[DiagnosticLine, ...] = ()
    seconds: Timing = Timing()
    cached: bool = False

    @property
    def error(self) -> None:
        """None: the unit gave its result (UnitFailure's is a line)."""
        return None


class UnitFailure(NamedTuple):
    """A unit that gave no result: libclang made no translation unit or
    reported errors, its file is missing, or its worker died or ran out of
    time. The error is one line; `diagnostics` are libclang's, if it said
    any."""

    unit: Unit
    error: str
    diagnostics: Tuple[DiagnosticLine, ...] = ()


# A unit's good result, of either kind.
UnitResult = Union[TableResult, SectionsResult]
