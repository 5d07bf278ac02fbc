"""Draws docs/whole_unit.png, the README's chart, from the table of
docs/benchmarks.md: grouping a whole unit with the idiomatic clang.cindex
walk, with astsieve_cindex (every Cursor made) and libclang's floor, as
multiples of the floor. Run by scripts/draw_docs.sh."""

from __future__ import annotations

import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "bench"))
from chart import bar_chart  # noqa: E402

# Series of the chart: legend -> the row of the table that holds it.
SERIES = {
    "idiomatic clang.cindex walk": "idiomatic `clang.cindex` walk",
    "astsieve_cindex, every Cursor made": "`astsieve_cindex`, every Cursor made",
}


def cells(line: str) -> list:
    return [cell.strip() for cell in line.strip().strip("|").split("|")]


def main() -> None:
    lines = (ROOT / "docs" / "benchmarks.md").read_text().splitlines()
    header = next(cells(line) for line in lines if line.startswith("| | (a)"))
    rows = {cells(line)[0]: cells(line)[1:] for line in lines if line.startswith("| ")}
    series = {}
    for legend, row in SERIES.items():
        if row not in rows:
            raise SystemExit(f"whole_unit_chart: docs/benchmarks.md has no row {row}")
        series[legend] = [float(value.rstrip("x")) for value in rows[row]]
    series["libclang's floor"] = [1.0] * len(series[next(iter(SERIES))])
    bar_chart(
        ["\n".join(group.replace("`", "").rsplit(", ", 1)) for group in header[1:]],
        series,
        ROOT / "docs" / "whole_unit.png",
        ylabel="times the floor (log scale)",
        title="Grouping a whole unit, as a multiple of libclang's own calls",
        size=(7.2, 3.4),
        bottom=0.5,
        value_format="{:g}x",
    )


if __name__ == "__main__":
    main()
