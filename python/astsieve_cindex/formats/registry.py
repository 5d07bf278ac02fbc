"""The output formats a scan can write, each registered by its own module:
its name for --format, the encoding its workers send, its encoder of one
file's section, and its writer of the sections kept."""

from __future__ import annotations

from typing import Callable, Dict, List, NamedTuple, Optional, Protocol, Sequence

from .part import FilePart
from .sections import Section

__all__ = [
    "FormatError",
    "Output",
    "OutputFormat",
    "encoder",
    "encodings",
    "format_named",
    "format_names",
    "register",
]


class FormatError(Exception):
    """An output that cannot be opened (a format whose library is missing, a
    destination it cannot take or write); one line."""


class Output(Protocol):
    """Where a scan's kept sections go, unit by unit; closing finishes it."""

    def write(self, sections: Sequence[Section]) -> None: ...

    def close(self) -> None: ...


class OutputFormat(NamedTuple):
    name: str  # as --format names it
    encoding: str  # as workers encode sections (scan_unit's `encoding`)
    # A file's part encoded as its section's data.
    encode_part: Callable[[FilePart], bytes]
    # The writer, given the destination folder (None: none given) and the
    # writer of text to standard output; FormatError when it cannot be opened.
    open_output: Callable[[Optional[str], Callable[[str], None]], Output]
    summary: str  # a line of --format's help


_FORMATS: Dict[str, OutputFormat] = {}


def register(output_format: OutputFormat) -> None:
    _FORMATS[output_format.name] = output_format


def format_names() -> List[str]:
    return list(_FORMATS)


def format_named(name: str) -> OutputFormat:
    try:
        return _FORMATS[name]
    except KeyError:
        raise ValueError(
            f"unknown format {name!r}: choose one of {', '.join(_FORMATS)}"
        ) from None


def encodings() -> List[str]:
    return [output_format.encoding for output_format in _FORMATS.values()]


def encoder(encoding: str) -> Callable[[FilePart], bytes]:
    """The part encoder of `encoding`; ValueError for an encoding no format
    has."""
    for output_format in _FORMATS.values():
        if output_format.encoding == encoding:
            return output_format.encode_part
    raise ValueError(f"unknown encoding {encoding!r}: choose one of {', '.join(encodings())}")
