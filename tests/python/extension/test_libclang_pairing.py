"""clang.cindex and astsieve share the one libclang of the process, which
astsieve looks for only when a call needs it."""

import importlib.metadata
import json
import os
import pathlib
import subprocess
import sys
import textwrap

import pytest

import astsieve
import astsieve_cindex
from astsieve_cindex import translation_unit_handle as handle_of
from libclang_maps import mapped_libclang_files


def test_bindings_major_matches_loaded_libclang(libclang_major):
    # clang/cindex.py comes from clang==N, libclang or libclang-ng; their
    # wheels need not name their top-level packages, so ask for the file.
    (bindings,) = [
        distribution
        for distribution in importlib.metadata.distributions()
        if any(str(file) == "clang/cindex.py" for file in distribution.files or ())
    ]
    assert int(bindings.version.split(".")[0]) == libclang_major


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
        # By file name: the folders above may be named anything, libclang too.
        names = [row.split(maxsplit=5)[5:] for row in open("/proc/self/maps")]
        print(sum(name[0].strip().rsplit("/", 1)[-1].startswith("libclang") for name in names if name))
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
        sys.path.insert(0, {str(pathlib.Path(__file__).parent.parent / "support")!r})
        from companion_oracle import node_key, oracle_by_path_and_line
        from libclang_maps import mapped_libclang_files
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
