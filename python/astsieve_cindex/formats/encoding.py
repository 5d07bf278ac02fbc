"""A unit table encoded as the sections of its accepted files, in the
encoding of one of the registered output formats."""

from __future__ import annotations

import os
from typing import Tuple

from ..digests import FileDigests
from ..table import UnitTable
from .part import file_parts
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
) -> Tuple[Section, ...]:
    """The table's sections, one per file, encoded as `encoding` names;
    `unit` names the unit in the output, `main_file` is the main file as
    the table names it, `directory` the unit's; the files' contents are
    named by `digests`, the parse's."""
    encode_part = encoder(encoding)
    sections = []
    for part in file_parts(table, unit, main_file, directory):
        part_digest, data = encode_part(part)
        path = os.path.realpath(part.file)
        content = digests.of(path) or ""
        sections.append(Section(part.file, path, content, part_digest, part.main, data))
    return tuple(sections)
