"""Output formats of a scan: a unit's output in sections by accepted file,
the choice of the sections written, and one module per format, each
registering itself (registry.py)."""

from . import jsonl, parquet  # noqa: F401  each registers its format
from .encoding import encode_sections
from .registry import FormatError, Output, OutputFormat, encodings, format_named, format_names
from .sections import Section, SectionFilter

__all__ = [
    "FormatError",
    "Output",
    "OutputFormat",
    "Section",
    "SectionFilter",
    "encode_sections",
    "encodings",
    "format_named",
    "format_names",
]
