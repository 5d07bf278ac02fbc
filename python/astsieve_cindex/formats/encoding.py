"""A unit table encoded as the sections of its accepted files, in the
encoding of one of the registered output formats."""

from __future__ import annotations

import os
from typing import AbstractSet, Tuple

from ..digests import FileDigests
from ..table import UnitTable
from .part import file_parts, part_digest
from .registry import encoder
from .sections import Section

__all__ = ["encode_sections"]


def encode_sections(
    table: UnitTable,
    unit: str,
    main_file: str,
    directory: str,
    encoding: str,
    digests: FileDigests,
    known: AbstractSet[Tuple[str, str, str]] = frozenset(),
) -> Tuple[Section, ...]:
    """The table's sections, one per file, encoded as `encoding` names;
    `unit` names the unit in the output, `main_file` is the main file as
    the table names it, `directory` the unit's; the files' contents are
    named by `digests`, the parse's. A header whose key (SectionFilter's)
    is `known` is left out, unencoded."""
    encode_part = encoder(encoding)
    sections = []
    for part in file_parts(table, unit, main_file, directory):
        path = os.path.realpath(part.file)
        content = digests.of(path) or ""
        digest = part_digest(part)
        if part.main or (path, content, digest) not in known:  # Section.key, unencoded
            sections.append(Section(part.file, path, content, digest, part.main, encode_part(part)))
    return tuple(sections)
