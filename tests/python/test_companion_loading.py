"""Which libclang clang.cindex loads is fixed once per process, so every case
runs in a fresh interpreter."""

import os
import shutil
import subprocess
import sys
import textwrap

import pytest

from astsieve_cindex import LIBCLANG_FILE
from astsieve_cindex.loading import mapped_file

REAL_FILE = os.path.realpath(LIBCLANG_FILE)


def run_fresh(code):
    program = "import astsieve, astsieve_cindex, clang.cindex as cindex\n" + textwrap.dedent(code)
    return subprocess.run(
        [sys.executable, "-c", program], capture_output=True, text=True, timeout=120
    )


@pytest.fixture(scope="module")
def libclang_copy(tmp_path_factory):
    """A second libclang file: same contents, so the same soname, but another file."""
    copy = tmp_path_factory.mktemp("libclang") / "libclang-copy.so"
    shutil.copyfile(REAL_FILE, copy)
    return str(copy)


def test_unconfigured_cindex_loads_the_file_astsieve_links():
    done = run_fresh("""
        assert not cindex.Config.loaded
        astsieve_cindex.load_cindex()
        astsieve_cindex.load_cindex()
        print(cindex.Config.library_file)
        print(astsieve_cindex.loading._symbol_file(cindex.conf.lib))
    """)
    assert done.returncode == 0, done.stderr
    assert done.stdout.split("\n")[:2] == [LIBCLANG_FILE, REAL_FILE]


def test_the_same_file_under_another_name_is_accepted(tmp_path):
    link = tmp_path / "libclang-link.so"
    link.symlink_to(REAL_FILE)
    done = run_fresh(f"""
        cindex.Config.set_library_file({str(link)!r})
        cindex.conf.lib
        source = [("t.c", "int x;")]
        unit = astsieve_cindex.load_cindex().TranslationUnit.from_source("t.c", unsaved_files=source)
        print(len(astsieve_cindex.get_path_to_nodes(unit)["t.c"]))
    """)
    assert (done.returncode, done.stdout) == (0, "1\n"), done.stderr


@pytest.mark.parametrize("load_first", [False, True], ids=["configured", "loaded"])
def test_another_libclang_file_is_refused(libclang_copy, load_first):
    done = run_fresh(f"""
        cindex.Config.set_library_file({libclang_copy!r})
        if {load_first}:
            cindex.conf.lib
        try:
            astsieve_cindex.load_cindex()
        except astsieve_cindex.LibclangMismatchError as error:
            print(error)
        unit = cindex.TranslationUnit.from_source("t.c", unsaved_files=[("t.c", "int x;")])
        try:
            astsieve_cindex.get_path_to_lineno_to_nodes(unit)
        except astsieve_cindex.LibclangMismatchError:
            print("query refused")
    """)
    assert done.returncode == 0, done.stderr
    message, refused = done.stdout.splitlines()
    assert libclang_copy in message and REAL_FILE in message
    assert "already loaded" in message if load_first else "set to load" in message
    assert refused == "query refused"


def test_a_libclang_copy_loaded_before_astsieve_is_the_one_both_use(libclang_copy):
    # The extension's dependency is found by soname among the loaded
    # libraries, so both sides share the copy, and that is fine.
    program = f"""
        import clang.cindex as cindex
        cindex.Config.set_library_file({libclang_copy!r})
        cindex.conf.lib
        import astsieve_cindex
        astsieve_cindex.load_cindex()
    """
    done = subprocess.run(
        [sys.executable, "-c", textwrap.dedent(program)], capture_output=True, text=True
    )
    assert done.returncode == 0, done.stderr


def test_mapped_file_reads_paths_with_spaces_and_skips_anonymous_mappings(tmp_path):
    maps = tmp_path / "maps"
    maps.write_text(
        "1000-2000 r-xp 00000000 08:01 42 /opt/my libs/libclang.so\n"
        "2000-3000 rw-p 00000000 00:00 0 \n"
        "3000-4000 rw-p 00000000 00:00 0 [heap]\n"
    )
    assert mapped_file(0x1800, str(maps)) == "/opt/my libs/libclang.so"
    assert [mapped_file(address, str(maps)) for address in (0x2000, 0x3FFF, 0x4000)] == [None] * 3
