"""clang.cindex and astsieve share the one libclang of the process, which
astsieve looks for only when a call needs it."""

import importlib.metadata
import os
import subprocess
import sys
import textwrap

import astsieve
import astsieve_cindex
from astsieve_cindex import translation_unit_handle as handle_of


def mapped_libclang_files():
    """(device, inode) of every libclang file mapped into this process."""
    files = set()
    with open("/proc/self/maps") as maps:
        for line in maps:
            fields = line.split(maxsplit=5)
            if len(fields) == 6 and os.path.basename(fields[5].strip()).startswith("libclang"):
                status = os.stat(fields[5].strip())
                files.add((status.st_dev, status.st_ino))
    return files


def test_bindings_major_matches_loaded_libclang(libclang_major):
    # clang/cindex.py comes from clang==N, libclang or libclang-ng.
    (bindings,) = importlib.metadata.packages_distributions()["clang"]
    assert int(importlib.metadata.version(bindings).split(".")[0]) == libclang_major


def test_one_libclang_file_serves_both(cindex, parse):
    unit = parse({"m.c": "int x;\n"}, "m.c")
    assert astsieve.get_path_to_lineno_to_nodes(handle_of(unit), ".*", "")
    in_use = os.stat(astsieve_cindex.libclang_file())
    assert mapped_libclang_files() == {(in_use.st_dev, in_use.st_ino)}


def test_calls_before_any_libclang_is_loaded():
    # Handle 0 and an invalid pattern need no libclang and behave as ever;
    # the rest ask for libclang to be loaded first, and load nothing.
    program = """
        import astsieve
        print(astsieve.get_path_to_lineno_to_nodes(0, ".*", "m.c"))
        cursor = (1, 0, [1, 2, 3])
        for call in (
            lambda: astsieve.get_path_to_lineno_to_nodes(1, ".*", "m.c"),
            lambda: astsieve.update_path_lineno(cursor, "", "m.c"),
            lambda: astsieve.get_path_to_nodes(cursor, "(", "m.c"),
            lambda: astsieve.get_path_to_nodes(cursor, "", "m.c"),
        ):
            try:
                call()
            except RuntimeError as error:
                print(error)
        print(sum("libclang" in row for row in open("/proc/self/maps")))
    """
    done = subprocess.run(
        [sys.executable, "-c", textwrap.dedent(program)], capture_output=True, text=True, timeout=60
    )
    assert done.returncode == 0, done.stderr
    empty, unit, subtree, pattern, children, mapped = done.stdout.splitlines()
    assert empty == "{}" and mapped == "0"
    assert "regular expression" in pattern and "libclang" not in pattern
    for line in (unit, subtree, children):
        assert "no libclang loaded in this process: load libclang first" in line
