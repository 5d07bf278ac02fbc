"""README.md, the guides of docs/ and their code blocks, for tests that run them as pasted."""

import pathlib
import re

ROOT = pathlib.Path(__file__).resolve().parents[3]


def documents():
    """README.md and docs/*.md, by path."""
    paths = [ROOT / "README.md", *sorted((ROOT / "docs").glob("*.md"))]
    return {path: path.read_text() for path in paths}


def section(heading):
    """The one document holding the line `heading`, from that line on."""
    found = [text.split(f"\n{heading}\n", 1)[1] for text in documents().values() if f"\n{heading}\n" in text]
    assert len(found) == 1, f"{len(found)} documents hold the heading {heading!r}"
    return found[0]


def readme_python(containing):
    """The one Python code block of README.md and docs/*.md holding `containing`."""
    blocks = [block for text in documents().values() for block in re.findall(r"```python\n(.*?)```", text, re.S)]
    found = [block for block in blocks if containing in block]
    assert len(found) == 1, f"{len(found)} Python blocks of README.md and docs/ hold {containing!r}"
    return found[0]
