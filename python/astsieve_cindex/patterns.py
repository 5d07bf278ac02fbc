"""Path patterns as the command line builds and checks them."""

from __future__ import annotations

from typing import Optional, Union

import astsieve

__all__ = ["ecmascript_escape", "pattern_error"]

_ECMASCRIPT_SYNTAX_CHARACTERS = set("^$\\.*+?()[]{}|")


def ecmascript_escape(text: str) -> str:
    """`text` as a pattern that matches it literally."""
    return "".join("\\" + char if char in _ECMASCRIPT_SYNTAX_CHARACTERS else char for char in text)


def pattern_error(pattern: Union[str, bytes]) -> Optional[str]:
    """Why the engine refuses `pattern`, or None when it compiles."""
    if not isinstance(pattern, (str, bytes)):
        raise TypeError(f"the path pattern must be str or bytes, got {type(pattern).__name__}")
    # The engine compiles the pattern before it looks at the handle, so a
    # call on no translation unit tests the pattern alone.
    try:
        astsieve.get_path_to_lineno_to_nodes(0, pattern, "")
    except RuntimeError as error:
        return str(error)
    return None
