"""The builtin-header finder's answer kept in a cache folder, so that a
rescan that takes every unit from the cache makes no probe parse.

The answer is kept under what it depends on: the libclang file (its path,
size and time of change) and version, the compiler arguments, the
environment variables that add include folders, and the resource
directories this machine offers (the folders the finder's globs find).
The folder is untrusted input: a file that is not such an answer for the
same key, or whose arguments are not the compiler arguments with at most
one of those resource directories added, is ignored and written anew.
"""

from __future__ import annotations

import contextlib
import glob
import hashlib
import json
import os
import tempfile
from types import ModuleType
from typing import Any, Dict, Optional, Sequence

from ..loading import LibclangMismatchError, libclang_file
from .builtin_headers import SEARCH_PATTERNS, BuiltinHeaders, builtin_headers, libclang_version
from .parsing import include_environment

__all__ = ["known_builtin_headers"]

_NAME = "builtin-headers-{}.json"


def _key(cindex: ModuleType, compiler_arguments: Sequence[str]) -> Optional[Dict[str, Any]]:
    try:
        library = libclang_file()
        status = os.stat(library)
    except (LibclangMismatchError, OSError):
        return None
    folders = [os.path.join(os.path.dirname(library), "resource")]
    for pattern in (os.path.join(os.path.dirname(library), "clang", "*"), *SEARCH_PATTERNS):
        folders += sorted(glob.glob(pattern))
    return {
        "library": [library, status.st_size, status.st_mtime_ns, libclang_version(cindex)],
        "arguments": list(compiler_arguments),
        "environment": include_environment(),
        "folders": [folder for folder in folders if os.path.isdir(folder)],
    }


def _answer(document: Any, key: Dict[str, Any]) -> Optional[BuiltinHeaders]:
    if not isinstance(document, dict) or document.get("key") != key:
        return None
    arguments, note, missing = document.get("arguments"), document.get("note"), document.get("missing")
    # Only what the finder itself answers is believed: the compiler
    # arguments as given, and perhaps one of this machine's resource
    # directories; never words of the file's own, which libclang would run.
    given = key["arguments"]
    if not isinstance(arguments, list) or arguments[: len(given)] != given:
        return None
    added = arguments[len(given) :]
    if added and not (len(added) == 2 and added[0] == "-resource-dir" and added[1] in key["folders"]):
        return None
    if not all(text is None or isinstance(text, str) for text in (note, missing)):
        return None
    return BuiltinHeaders(arguments, note, missing)


def known_builtin_headers(
    cindex: ModuleType, compiler_arguments: Sequence[str], folder: Optional[str]
) -> BuiltinHeaders:
    """builtin_headers(cindex, compiler_arguments), from `folder` (a cache
    folder) when it keeps the answer for the same key; else found, and kept
    there."""
    key = _key(cindex, compiler_arguments) if folder is not None else None
    if folder is None or key is None:
        return builtin_headers(cindex, compiler_arguments)
    digest = hashlib.sha256(json.dumps(key, sort_keys=True).encode()).hexdigest()[:32]
    path = os.path.join(folder, _NAME.format(digest))
    try:
        with open(path, encoding="utf-8") as stream:
            kept = _answer(json.load(stream), key)
    except (OSError, ValueError):
        kept = None
    if kept is not None:
        return kept
    found = builtin_headers(cindex, compiler_arguments)
    document = {"key": key, **found._asdict()}
    with contextlib.suppress(OSError):
        descriptor, temporary = tempfile.mkstemp(prefix=".partial-", dir=folder)
        with os.fdopen(descriptor, "w", encoding="utf-8") as stream:
            json.dump(document, stream)
        os.replace(temporary, path)
    return found
