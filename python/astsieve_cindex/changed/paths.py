"""The diff's paths and the files libclang names: one file, however a
unit's arguments spell its path, is the same path of the diff."""

from __future__ import annotations

import functools
import os
import re
from typing import Dict, Optional, Set

__all__ = ["ANONYMOUS", "DiffPaths", "real_path"]

# An anonymous type's name as the records give it, with its file's path.
ANONYMOUS = re.compile(r"(\(anonymous (?:struct|union|class|enum) at )(.+?)(:[0-9]+\))")


@functools.lru_cache(maxsize=None)
def real_path(path: str) -> str:
    return os.path.realpath(path)


class DiffPaths:
    """The diff's paths by the real paths of the files they name."""

    def __init__(self, changed: Dict[str, Set[int]], root: str) -> None:
        self.by_real = {real_path(os.path.join(root, path)): path for path in changed}
        self.root = real_path(root)

    def of(self, file: str) -> Optional[str]:
        return self.by_real.get(real_path(file))

    def _relative(self, match: "re.Match[str]") -> str:
        before, file, after = match.groups()
        path = self.of(file)
        if path is None:
            real = real_path(file)
            inside = real.startswith(self.root.rstrip("/") + "/")
            path = os.path.relpath(real, self.root) if inside else file
        return before + path + after

    def name(self, name: str) -> str:
        """`name` with the file of each anonymous type in it relative to the
        root, as the diff names it where it does."""
        return ANONYMOUS.sub(self._relative, name) if "(anonymous " in name else name
