"""The declarations a unified diff touches: reading the diff (diff.py), the
base revision's side through git show (base.py), the plan of which units to
parse (plan.py), and declaration matching (matching.py), behind one entry
point (search.py): read_change, then find_changes."""

from .base import BaseError
from .diff import Diff, DiffError, changed_lines, git_path, is_c_file, read_diff
from .matching import Inactive, Removed, Touched
from .search import Change, Changes, Entry, find_changes, printable, read_change

__all__ = [
    "BaseError",
    "Change",
    "Changes",
    "Diff",
    "DiffError",
    "Entry",
    "Inactive",
    "Removed",
    "Touched",
    "changed_lines",
    "find_changes",
    "git_path",
    "is_c_file",
    "printable",
    "read_change",
    "read_diff",
]
