"""Repeats successful and failing calls of every function and prints, as JSON,
how far each kind of call raised the process's peak resident size (KiB).

Run as a script in a fresh interpreter: `python memory_probe.py DIRECTORY`.
"""

import json
import os
import resource
import sys

import astsieve_cindex

cindex = astsieve_cindex.load_cindex()

import astsieve  # noqa: E402
from astsieve_cindex import cursor_tuple, translation_unit_handle as handle_of  # noqa: E402

WARM_UP = 200
REPEATS = 2000
LONG = "/" * 65536


class LengthFails:
    def __len__(self):
        raise LookupError("len")

    def __getitem__(self, index):
        return 0


def fails(error, function, *args):
    """Calls `function`, which must raise `error`; plain try/except, since
    pytest.raises keeps bookkeeping of its own."""
    try:
        function(*args)
    except error:
        return
    raise AssertionError(f"{error.__name__} not raised")


def write(directory, name, text):
    path = os.path.join(os.fsencode(directory), os.fsencode(name))
    with open(path, "wb") as out:
        out.write(text)
    return os.fsdecode(path)


def parse(path):
    return cindex.TranslationUnit.from_source(path)


def scenarios(directory):
    body = "".join(
        f"struct s{i} {{ int a, b; }};\nint f{i}(int v) {{ struct s{i} x = {{v, {i}}}; return x.a + x.b; }}\n"
        for i in range(40)
    )
    main = write(directory, "m.c", body.encode())
    unit = parse(main)
    write(directory, b"h\xff.h", body.encode())
    odd_main = write(directory, "odd.c", b'#include "h\xff.h"\n')
    odd_unit = parse(odd_main)
    handle, odd_handle = handle_of(unit), handle_of(odd_unit)
    top, odd_top = cursor_tuple(unit.cursor), cursor_tuple(odd_unit.cursor)
    function = cursor_tuple(list(unit.cursor.get_children())[-1])

    yield "whole unit", lambda: astsieve.get_path_to_lineno_to_nodes(handle, ".*", main)
    yield "subtree", lambda: astsieve.update_path_lineno(function, "", main)
    yield "children", lambda: astsieve.get_path_to_nodes(top, ".*", main)
    yield "long strings", lambda: astsieve.get_path_to_lineno_to_nodes(0, "", LONG)
    yield "mismatch", lambda: fails(TypeError, astsieve.update_path_lineno, function, LONG, None)
    yield "invalid pattern", lambda: fails(RuntimeError, astsieve.get_path_to_nodes, top, "(", LONG)
    yield "undecodable path", lambda: fails(UnicodeDecodeError, astsieve.get_path_to_lineno_to_nodes, odd_handle, ".*", odd_main)
    yield "undecodable child", lambda: fails(UnicodeDecodeError, astsieve.get_path_to_nodes, odd_top, ".*", odd_main)
    yield "companion whole unit", lambda: [list(nodes) for nodes in astsieve_cindex.get_path_to_lineno_to_nodes(unit, ".*", main)[main].values()]
    yield "companion undecodable path", lambda: fails(UnicodeDecodeError, astsieve_cindex.get_path_to_lineno_to_nodes, odd_unit, ".*", odd_main)
    yield "failing sequence", lambda: fails(LookupError, astsieve.update_path_lineno, (0, 0, LengthFails()), "", LONG)


def peak_kib():
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss


def main(directory):
    growth = {}
    for name, call in scenarios(directory):
        for _ in range(WARM_UP):
            call()
        before = peak_kib()
        for _ in range(REPEATS):
            call()
        growth[name] = peak_kib() - before
    print(json.dumps(growth))


if __name__ == "__main__":
    main(sys.argv[1])
