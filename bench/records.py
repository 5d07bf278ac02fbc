"""Times the records of one unit side by side: parsing it, the records made
in Python over clang.cindex (tests/python/support/python_records.py, the
reference the tests compare with) and the helper's, in CPU seconds, the best
of a few runs each. The unit is a C file including several system headers
(or FILE), records taken with the pattern '.*' (or --pattern).

    .venv/bin/python bench/records.py [FILE] [--pattern P] [--runs N] [-- ARGS]
"""

from __future__ import annotations

import argparse
import os
import sys
import tempfile
import time
from typing import Callable, List

from clang.cindex import TranslationUnit

from astsieve_cindex.records import unit_records, unit_table

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tests", "python", "support"))
from python_records import unit_records as python_unit_records  # noqa: E402

UNIT = """#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <signal.h>
#include <pthread.h>
#include <sys/socket.h>
#include <netinet/in.h>
int main(int argc, char **argv) {
  char buffer[64];
  snprintf(buffer, sizeof buffer, "%d", argc);
  return (int)strlen(buffer) + (argv[0] != NULL) + EXIT_SUCCESS;
}
"""


def best(runs: int, work: Callable[[], object]) -> float:
    times = []
    for _ in range(runs):
        start = time.process_time()
        work()
        times.append(time.process_time() - start)
    return min(times)


def main(argv: List[str]) -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("file", nargs="?", help="the unit's main file (default: a C file of its own)")
    parser.add_argument("--pattern", default=".*", help="files accepted beside the main file")
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("args", nargs="*", help="compiler arguments, after --")
    options = parser.parse_args(argv)
    with tempfile.TemporaryDirectory() as folder:
        path = options.file
        if path is None:
            path = os.path.join(folder, "unit.c")
            with open(path, "w") as file:
                file.write(UNIT)

        def parse() -> TranslationUnit:
            flags = TranslationUnit.PARSE_DETAILED_PROCESSING_RECORD
            return TranslationUnit.from_source(path, args=options.args, options=flags)

        unit = parse()
        pattern = options.pattern
        python_records = python_unit_records(unit, pattern)
        assert unit_records(unit, pattern) == python_records, "the records differ"
        rows = [
            ("parse", best(options.runs, parse)),
            ("records in Python", best(options.runs, lambda: python_unit_records(unit, pattern))),
            ("unit_records (native)", best(options.runs, lambda: unit_records(unit, pattern))),
            ("unit_table (native)", best(options.runs, lambda: unit_table(unit, pattern))),
        ]
    parse_time = rows[0][1]
    print(f"{len(python_records)} nodes, pattern {pattern!r}")
    for name, seconds in rows:
        print(f"{name:<24}{seconds * 1000:9.1f} ms  {seconds / parse_time:6.2f}x parse")


if __name__ == "__main__":
    main(sys.argv[1:])
