"""Times `python -m astsieve_cindex changed` on a generated C++ project
under git, side by side in one run, each answer checked against
`--all-units` (every unit parsed in full):

- a header commit: a plain field of a struct in a guarded header that every
  unit reaches twice (through another header; a line before the guard keeps
  clang from passing over the second inclusion, as in real projects), so
  that libclang reports a skipped range over the whole file; against
  `--all-units`;
- a change every unit skips (a line under `#ifdef _WIN32`); against
  `--all-units`;
- a one-line edit of a source; against parsing that source alone with
  clang.cindex, in one worker process of the same pool.

Every unit includes the standard library (eight headers).

    .venv/bin/python bench/changed_project.py [--units N]
"""

from __future__ import annotations

import argparse
import json
import os
import subprocess
import sys
import tempfile
import time
from pathlib import Path
from typing import List, Sequence, Tuple

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import scan_project  # noqa: E402

CONFIG = """#define PROJECT_CONFIG_VERSION 3
#ifndef PROJECT_CONFIG_H
#define PROJECT_CONFIG_H
#include <cstdint>
#include <string>
namespace project {
struct settings {
  std::string name;
  int retries;
  std::uint32_t flags;
};
#ifdef _WIN32
int windows_only(const settings& value);
#endif
inline int retries_of(const settings& value) { return value.retries; }
}  // namespace project
#endif
"""

API = """#pragma once
#include "config.h"
#include "project.h"
namespace project {
int run(const settings& value, const index& records);
}  // namespace project
"""

UNIT_HEAD = '#include "api.h"\n#include "config.h"\n'

# Code a real source has more of than scan_project's units: calls into the
# standard library's templates, for several types, which a full parse
# instantiates.
TYPES = ("int", "long", "double", "unsigned")
UNIT_TAIL = """
namespace project {{
namespace more{number}_{type} {{
using value_type = {type};
std::map<std::string, std::vector<value_type>> group(const index& records) {{
  std::map<std::string, std::vector<value_type>> groups;
  for (const auto& entry : records) {{
    auto& values = groups[entry.first.substr(0, 1)];
    values.insert(values.end(), entry.second->values.begin(), entry.second->values.end());
    std::sort(values.begin(), values.end());
    values.erase(std::unique(values.begin(), values.end()), values.end());
  }}
  return groups;
}}

std::vector<std::function<value_type(value_type)>> steps(const settings& value) {{
  std::vector<std::function<value_type(value_type)>> found;
  for (int i = 0; i < value.retries; ++i)
    found.push_back([i, &value](value_type x) {{ return x * i + value.flags; }});
  return found;
}}

std::unordered_map<value_type, std::string> names(const index& records) {{
  std::unordered_map<value_type, std::string> result;
  for (const auto& entry : records) {{
    std::ostringstream text;
    text << entry.second->name << ':' << entry.second->values.size();
    result.emplace(static_cast<value_type>(entry.second->values.size()), text.str());
  }}
  return result;
}}

std::shared_ptr<std::vector<value_type>> make(std::vector<value_type> values) {{
  auto made = std::make_shared<std::vector<value_type>>(std::move(values));
  std::stable_sort(made->begin(), made->end(), std::greater<value_type>());
  return made;
}}
}}  // namespace more{number}_{type}
}}  // namespace project
"""


def generate(root: Path, units: int) -> Path:
    build = scan_project.generate(root, units)
    (root / "include" / "config.h").write_text(CONFIG)
    (root / "include" / "api.h").write_text(API)
    for number, source in enumerate(sorted((root / "src").glob("*.cpp"))):
        tail = "".join(UNIT_TAIL.format(number=number, type=type) for type in TYPES)
        source.write_text(UNIT_HEAD + source.read_text() + tail)
    git(root, "init", "-q")
    git(root, "add", ".")
    git(root, "commit", "-q", "-m", "base")
    return build


def git(root: Path, *arguments: str) -> str:
    identity = ["-c", "user.name=bench", "-c", "user.email=bench@example.invalid"]
    done = subprocess.run(
        ["git", *identity, *arguments], cwd=root, capture_output=True, text=True, check=True
    )
    return done.stdout


def edited(root: Path, path: str, old: str, new: str) -> str:
    """The diff of one edit; the file is put back after."""
    file = root / path
    text = file.read_text()
    assert old in text, old
    file.write_text(text.replace(old, new, 1))
    try:
        return git(root, "diff")
    finally:
        file.write_text(text)


def changed(root: Path, diff: str, extra: Sequence[str]) -> Tuple[float, str, str]:
    command = [sys.executable, "-m", "astsieve_cindex", "changed", "-p", "build", "--json"]
    command += ["--verbose", *extra]
    started = time.perf_counter()
    done = subprocess.run(command, cwd=root, input=diff, capture_output=True, text=True)
    seconds = time.perf_counter() - started
    assert done.returncode == 0, done.stderr[-800:]
    note = [line for line in done.stderr.splitlines() if "note: parsed" in line]
    return seconds, done.stdout, note[-1].split("note: ")[-1] if note else ""


def source_alone(build: Path, source: str) -> float:
    database = json.loads((build / "compile_commands.json").read_text())
    entry = [e for e in database if e["file"].endswith(source)]
    with tempfile.TemporaryDirectory() as folder:
        (Path(folder) / "compile_commands.json").write_text(json.dumps(entry))
        started = time.perf_counter()
        subprocess.run(scan_project.floor_command(Path(folder), 1, []), check=True)
        return time.perf_counter() - started


def main(argv: Sequence[str] = ()) -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--units", type=int, default=20, help="units to generate (default 20)")
    arguments = parser.parse_args(list(argv) or None)
    with tempfile.TemporaryDirectory(prefix="astsieve-changed-bench-") as folder:
        root = Path(folder) / "project"
        build = generate(root, arguments.units)
        cases = {
            "header commit, reached twice per unit": edited(
                root, "include/config.h", "  int retries;", "  long retries;"
            ),
            "a change every unit skips (_WIN32)": edited(
                root, "include/config.h", "int windows_only(const settings& value);",
                "int windows_only(const settings& value, int flags);",
            ),
            "one-line edit of a source": edited(
                root, "src/unit0.cpp", "sum += value * 0;", "sum += value * 2;"
            ),
        }
        rows: List[Tuple[str, float, float, str, str]] = []
        for title, diff in cases.items():
            seconds, answer, note = changed(root, diff, [])
            if title.startswith("one-line"):
                base, against = source_alone(build, "unit0.cpp"), "parsing the source alone"
                full = changed(root, diff, ["--all-units"])[1]
            else:
                base, full, _ = changed(root, diff, ["--all-units"])
                against = "--all-units"
            assert answer == full, f"{title}: answers differ\n{answer}\n{full}"
            rows.append((title, seconds, base, against, note))
    print(f"changed on a generated C++ project: {arguments.units} units, {os.cpu_count()} cores")
    print("| case | changed s | against s | ratio | against | parsed |\n|---|---|---|---|---|---|")
    for title, seconds, base, against, note in rows:
        print(f"| {title} | {seconds:.2f} | {base:.2f} | {seconds / base:.2f}x | {against} | {note} |")
    print("answers equal to --all-units: yes; goals: 0.2x, 0.4x, 0.75x")


if __name__ == "__main__":
    main()
