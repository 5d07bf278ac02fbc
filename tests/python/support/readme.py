"""README.md and its code blocks, for tests that run them as pasted."""

import pathlib
import re

README = pathlib.Path(__file__).resolve().parents[3] / "README.md"


def section(heading):
    """README.md from the line `heading` on."""
    return README.read_text().split(f"\n{heading}\n", 1)[1]


def readme_python(containing):
    """The one Python code block of README.md holding `containing`."""
    blocks = re.findall(r"```python\n(.*?)```", README.read_text(), re.S)
    found = [block for block in blocks if containing in block]
    assert len(found) == 1, f"{len(found)} Python blocks of README.md hold {containing!r}"
    return found[0]
