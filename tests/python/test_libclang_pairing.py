"""clang.cindex and astsieve share one libclang of the pinned major."""

import importlib.metadata
import json
import os
import pathlib
import re
import subprocess
import sys
import textwrap

import pytest

import astsieve
import astsieve_cindex
from astsieve_cindex import translation_unit_handle as handle_of

REPOSITORY = pathlib.Path(__file__).resolve().parents[2]


def major_of_library(path):
    match = re.search(r"libclang-(\d+)\.so", os.path.basename(path))
    assert match, path
    return int(match.group(1))


def mapped_libclang_files():
    """(device, inode) of every libclang file mapped into this process."""
    files = set()
    with open("/proc/self/maps") as maps:
        for line in maps:
            fields = line.split(maxsplit=5)
            name = os.path.basename(fields[5].strip()) if len(fields) == 6 else ""
            if name.startswith("libclang") and not name.startswith("libclang-cpp"):
                status = os.stat(fields[5].strip())
                files.add((status.st_dev, status.st_ino))
    return files


def test_bindings_major_matches_linked_libclang():
    pinned = int((REPOSITORY / "deps" / "llvm-major").read_text().split()[0])
    bindings = int(importlib.metadata.version("clang").split(".")[0])
    assert bindings == major_of_library(astsieve_cindex.LIBCLANG_FILE) == pinned


def test_one_libclang_file_serves_both(cindex, parse):
    unit = parse({"m.c": "int x;\n"}, "m.c")
    assert astsieve.get_path_to_lineno_to_nodes(handle_of(unit), ".*", "")
    linked = os.stat(astsieve_cindex.LIBCLANG_FILE)
    assert mapped_libclang_files() == {(linked.st_dev, linked.st_ino)}


IMPORT_ORDERS = {
    # astsieve is imported before anything has loaded libclang.
    "astsieve first": """
        import astsieve, astsieve_cindex
        cindex = astsieve_cindex.load_cindex()
    """,
    # clang.cindex has loaded its libclang before astsieve is imported.
    "cindex first": """
        import clang.cindex as cindex
        cindex.conf.lib
        import astsieve, astsieve_cindex
        astsieve_cindex.load_cindex()
    """,
}


@pytest.mark.parametrize("order", IMPORT_ORDERS)
def test_either_import_order_shares_one_libclang_and_matches_the_oracle(tmp_path, order):
    (tmp_path / "shapes.h").write_text("#define AREA(w, h) ((w) * (h))\nstruct box { int w, h; };\n")
    main = tmp_path / "main.c"
    main.write_text('#include "shapes.h"\nint area(struct box b) {\n  return AREA(b.w, b.h);\n}\n')
    program = textwrap.dedent(IMPORT_ORDERS[order]) + textwrap.dedent(f"""
        import json, os, sys
        sys.path.insert(0, {str(pathlib.Path(__file__).parent)!r})
        from companion_oracle import node_key, oracle_by_path_and_line
        from test_libclang_pairing import mapped_libclang_files
        main = {str(main)!r}
        options = cindex.TranslationUnit.PARSE_DETAILED_PROCESSING_RECORD
        unit = cindex.TranslationUnit.from_source(main, options=options)
        found = astsieve_cindex.get_path_to_lineno_to_nodes(unit, r".*\\.h")
        keys = {{
            path: {{line: sorted(map(node_key, nodes)) for line, nodes in lines.items()}}
            for path, lines in found.items()
        }}
        expected = oracle_by_path_and_line(unit.cursor, main, r".*\\.h")
        print(json.dumps([keys == expected, len(mapped_libclang_files()), sorted(found)]))
    """)
    done = subprocess.run([sys.executable, "-c", program], capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, done.stderr
    assert json.loads(done.stdout) == [True, 1, sorted([str(main), str(tmp_path / "shapes.h")])]
