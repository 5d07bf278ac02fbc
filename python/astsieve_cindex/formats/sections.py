"""A unit's output split by accepted file, and the choice of the sections a
scan writes.

A worker encodes its unit's table into one `Section` per file: the encoded
data, and what the writing process decides on without reading it: the
file's real path, the digest of its contents and a digest of the section's
declarations, lines and nodes (the unit left out). `SectionFilter` keeps
the main file of every unit, and a header once per distinct variant: a
later unit that reaches the same file with the same contents and the same
nodes adds nothing.
"""

from __future__ import annotations

from typing import FrozenSet, List, NamedTuple, Sequence, Set, Tuple

__all__ = ["Section", "SectionFilter"]


class Section(NamedTuple):
    """One accepted file's part of a unit's output."""

    file: str  # as the records name it
    path: str  # its real path: the same file however the unit reached it
    content_hash: str  # the file's digest (digests.py), as the parse read it
    digest: str  # of the encoded declarations, lines and nodes, not of the unit
    main: bool  # the unit's main file
    data: bytes

    @property
    def key(self) -> Tuple[str, str, str]:
        """What makes two headers' sections one variant: the same real
        path, contents and digest."""
        return self.path, self.content_hash, self.digest


class SectionFilter:
    """The sections of each unit's result that a scan writes, given the
    results before it: every main file, and the first of each header
    variant (same real path, contents and digest)."""

    def __init__(self) -> None:
        self._seen: Set[Tuple[str, str, str]] = set()
        # The keys of the headers kept, made into a frozenset once each time
        # they grow: a scan hands it on with every unit, and header variants
        # stop growing long before units run out.
        self._headers: Set[Tuple[str, str, str]] = set()
        self._frozen: FrozenSet[Tuple[str, str, str]] = frozenset()

    def keys(self) -> FrozenSet[Tuple[str, str, str]]:
        """The keys (real path, content digest, digest) of the headers kept,
        whose sections a later unit need not encode."""
        if len(self._frozen) != len(self._headers):
            self._frozen = frozenset(self._headers)
        return self._frozen

    def new_sections(self, sections: Sequence[Section]) -> List[Section]:
        kept = []
        for section in sections:
            key = section.key
            if section.main or key not in self._seen:
                self._seen.add(key)
                if not section.main:
                    self._headers.add(key)
                kept.append(section)
        return kept
