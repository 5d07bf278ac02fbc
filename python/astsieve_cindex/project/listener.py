"""What a caller hears while a project's units are scanned: each run of
units as it starts, each unit's result as it finishes, and notes about the
work (why more units are parsed, say)."""

from __future__ import annotations

from typing import Protocol, Union

from .results import UnitFailure, UnitResult

__all__ = ["Listener"]


class Listener(Protocol):
    def start(self, units: int) -> None:
        """A run of `units` units begins."""

    def result(self, result: Union[UnitResult, UnitFailure]) -> None:
        """A unit finished, well or not."""

    def note(self, text: str) -> None:
        """Something worth saying about the work, in one line."""
