"""Thousands of calls, successful and failing, leave memory and the
arguments' reference counts where they were."""

import json
import os
import subprocess
import sys
import tracemalloc

import astsieve
import astsieve_cindex as companion
from astsieve_cindex import cursor_tuple, translation_unit_handle as handle_of
from memory_probe import fails
from sanitizers import skip_under_address_sanitizer

PEAK_GROWTH_LIMIT_KIB = 8 * 1024


@skip_under_address_sanitizer
def test_peak_memory_stays_flat(tmp_path):
    probe = os.path.join(os.path.dirname(__file__), os.pardir, "support", "memory_probe.py")
    run = subprocess.run([sys.executable, probe, str(tmp_path)], capture_output=True, text=True, check=True)
    growth = json.loads(run.stdout)
    assert len(growth) == 11
    assert {name: kib for name, kib in growth.items() if kib > PEAK_GROWTH_LIMIT_KIB} == {}


def test_argument_reference_counts_and_python_heap_stay_flat(parse, tmp_path):
    unit = parse({"m.c": "int f(int a) { return a + 1; }\nint g;\n"}, "m.c")
    main = "".join(str(tmp_path / "m.c"))  # a fresh, uninterned string
    pattern = ".*" + "\\.h"
    handle = handle_of(unit)
    function_cursor = next(unit.cursor.get_children())
    function = cursor_tuple(function_cursor)
    kind, xdata, data = function
    listed = [kind, xdata, list(data)]
    arguments = [handle, main, pattern, function, data, listed, listed[2], unit, function_cursor]

    def one_round():
        astsieve.get_path_to_lineno_to_nodes(handle, pattern, main)
        astsieve.update_path_lineno(function, pattern, main)
        astsieve.get_path_to_nodes(listed, pattern, main)
        for bad in ((handle, pattern, main, main), (function, pattern, main), (handle, None, main)):
            fails(TypeError, astsieve.get_path_to_lineno_to_nodes, *bad)
        fails(RuntimeError, astsieve.update_path_lineno, listed, "(", main)
        list(companion.get_path_to_lineno_to_nodes(unit, pattern, main)[main][1])
        companion.update_path_lineno(function_cursor, pattern, main)
        companion.get_path_to_nodes(unit, pattern, None)
        fails(TypeError, companion.get_path_to_nodes, function_cursor, pattern, 7)
        fails(RuntimeError, companion.update_path_lineno, function_cursor, "(", main)

    one_round()
    before = [sys.getrefcount(argument) for argument in arguments]
    tracemalloc.start()
    try:
        # Blocks allocated before tracing began and recycled after it would
        # count as growth: the first rounds let them turn over.
        for _ in range(500):
            one_round()
        heap_before = tracemalloc.get_traced_memory()[0]
        for _ in range(2000):
            one_round()
        heap_growth = tracemalloc.get_traced_memory()[0] - heap_before
    finally:
        tracemalloc.stop()
    assert [sys.getrefcount(argument) for argument in arguments] == before
    assert heap_growth < 64 * 1024
