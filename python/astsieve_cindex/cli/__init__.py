"""The command line: python -m astsieve_cindex [scan | changed] ..."""

from .list import EXAMPLE_FILE, InputError, main, run

__all__ = ["EXAMPLE_FILE", "InputError", "main", "run"]
