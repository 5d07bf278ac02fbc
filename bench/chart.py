"""Grouped bar charts on a log scale, for the figures of the benchmarks:
bench/run.py draws docs/walks.png with it, and scripts/draw_docs.sh the
README's smaller chart of the same run. Needs matplotlib
(bench/requirements.txt)."""

from __future__ import annotations

from pathlib import Path
from typing import Dict, Optional, Sequence, Tuple


def bar_chart(
    groups: Sequence[str],
    series: Dict[str, Sequence[float]],
    path: Path,
    *,
    ylabel: str,
    title: str,
    size: Tuple[float, float],
    label_rotation: int = 0,
    bottom: Optional[float] = None,
    value_format: Optional[str] = None,
) -> None:
    """One cluster of bars per group, one bar per series in each, and a
    legend of the series above them; value_format (e.g. "{:g}x") writes each
    value above its bar."""
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    figure, axes = plt.subplots(figsize=size)
    width = 0.8 / len(series)
    for index, (name, values) in enumerate(series.items()):
        positions = [i + (index - (len(series) - 1) / 2) * width for i in range(len(groups))]
        bars = axes.bar(positions, values, width, label=name)
        if value_format:
            axes.bar_label(bars, [value_format.format(value) for value in values], fontsize=8)
    axes.set_yscale("log")
    axes.set_ylim(bottom=bottom, top=max(max(values) for values in series.values()) * 5)
    axes.set_ylabel(ylabel)
    axes.set_xticks(range(len(groups)))
    axes.set_xticklabels(groups, rotation=label_rotation,
                         ha="right" if label_rotation else "center", fontsize=8)
    axes.set_title(title, fontsize=9)
    axes.legend(ncol=len(series), loc="upper center", fontsize=8)
    figure.tight_layout()
    path.parent.mkdir(parents=True, exist_ok=True)
    figure.savefig(path, dpi=110)
    print(f"chart: {path}")
