"""The base revision a diff applies to: its files, read with `git show`
without touching the work tree, and checked against the diff."""

from __future__ import annotations

import os
import subprocess
from typing import Dict, List, Optional

from .diff import Diff, git_path, is_c_file

__all__ = ["BaseError", "old_texts"]


class BaseError(Exception):
    """A base revision that cannot be read, or that the diff does not apply
    to; one line."""


def _git(root: str, *arguments: str) -> "subprocess.CompletedProcess[bytes]":
    try:
        return subprocess.run(
            ["git", *arguments], cwd=root, capture_output=True, stdin=subprocess.DEVNULL
        )
    except OSError as error:
        raise BaseError(f"cannot run git: {error.strerror}") from None


def _mismatch(patch, lines: List[bytes]) -> Optional[int]:  # type: ignore[no-untyped-def]
    # The first old line number whose line the diff's hunks do not match.
    for hunk in patch:
        for line in hunk:
            if line.is_removed or line.is_context:
                number = line.source_line_no
                text = line.value.encode("utf-8", "surrogateescape").rstrip(b"\n")
                if number > len(lines) or lines[number - 1].rstrip(b"\r") != text.rstrip(b"\r"):
                    return number  # type: ignore[no-any-return]
    return None


def old_texts(diff: Diff, root: str, revision: str) -> Dict[str, bytes]:
    """{path: its text at `revision`} for the C and C++ files the diff
    changes and does not add, read with `git show` in `root` (the diff's
    paths are relative to it); BaseError when `root` is no git work tree,
    git knows no such revision, or a file's removed and context lines are
    not its lines there."""
    inside = _git(root, "rev-parse", "--is-inside-work-tree")
    if inside.returncode or inside.stdout.strip() != b"true":
        raise BaseError(f"--base needs a git work tree: {os.path.abspath(root)} is none")
    commit = revision + "^{commit}"
    known = _git(root, "rev-parse", "--verify", "--quiet", "--end-of-options", commit)
    if known.returncode:
        raise BaseError(f"git knows no revision {revision}")
    texts: Dict[str, bytes] = {}
    for patch in diff.patches:
        path = git_path(patch.path)
        if path not in diff.old_paths:
            continue
        old = diff.old_paths[path]
        shown = _git(root, "show", f"{revision}:./{old}")
        if shown.returncode:
            raise BaseError(f"the diff does not apply to {revision}: it has no {old}")
        line = _mismatch(patch, shown.stdout.split(b"\n"))
        if line is not None:
            raise BaseError(f"the diff does not apply to {revision}: {old} differs at line {line}")
        if is_c_file(path):
            texts[path] = shown.stdout
    return texts
