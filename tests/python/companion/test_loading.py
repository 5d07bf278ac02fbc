"""Which libclang clang.cindex loads is fixed once per process, so every case
runs in a fresh interpreter."""

import os
import shutil
import subprocess
import sys
import textwrap

import pytest

import astsieve_cindex
from libclang_maps import mapped_file

SUPPORT = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "support")


def run_fresh(code):
    program = "import astsieve, astsieve_cindex, clang.cindex as cindex\n" + textwrap.dedent(code)
    return subprocess.run(
        [sys.executable, "-c", program], capture_output=True, text=True, timeout=120
    )


@pytest.fixture(scope="module")
def libclang_in_use(cindex):
    """The file clang.cindex loads unconfigured, in this process as in a fresh one."""
    return astsieve_cindex.libclang_file()


@pytest.fixture(scope="module")
def libclang_copy(libclang_in_use, tmp_path_factory):
    """A second libclang file: the same contents, but another file."""
    copy = tmp_path_factory.mktemp("libclang") / "libclang-copy.so"
    shutil.copyfile(libclang_in_use, copy)
    return str(copy)


def test_unconfigured_cindex_loads_its_default_and_astsieve_uses_it(libclang_in_use):
    done = run_fresh(f"""
        assert not cindex.Config.loaded
        astsieve_cindex.load_cindex()
        astsieve_cindex.load_cindex()
        print(astsieve_cindex.libclang_file())
        import ctypes, sys
        sys.path.insert(0, {SUPPORT!r})
        from libclang_maps import mapped_file
        print(mapped_file(ctypes.cast(cindex.conf.lib.clang_visitChildren, ctypes.c_void_p).value))
    """)
    assert done.returncode == 0, done.stderr
    assert done.stdout.splitlines() == [libclang_in_use, libclang_in_use]


@pytest.mark.parametrize("configured", ["link", "copy"])
def test_the_configured_libclang_file_is_the_one_both_use(
    libclang_in_use, libclang_copy, tmp_path, configured
):
    # A link names the file in use; a copy is another file, alone in the
    # process all the same.
    link = tmp_path / "libclang-link.so"
    link.symlink_to(libclang_in_use)
    library, real = (link, libclang_in_use) if configured == "link" else (libclang_copy, libclang_copy)
    done = run_fresh(f"""
        cindex.Config.set_library_file({str(library)!r})
        source = [("t.c", "int x;")]
        unit = astsieve_cindex.load_cindex().TranslationUnit.from_source("t.c", unsaved_files=source)
        print(len(astsieve_cindex.get_path_to_nodes(unit)["t.c"]))
        print(astsieve_cindex.libclang_file())
    """)
    assert done.returncode == 0, done.stderr
    assert done.stdout.splitlines() == ["1", real]


@pytest.mark.parametrize("copy_first", [True, False], ids=["copy-first", "copy-after-a-call"])
def test_two_libclang_files_are_refused(libclang_in_use, libclang_copy, copy_first):
    # Loaded after a call, the copy is found by the next call all the same.
    done = run_fresh(f"""
        import ctypes
        from astsieve_cindex import cursor_tuple
        if {copy_first}:
            ctypes.CDLL({libclang_copy!r})
        unit = cindex.TranslationUnit.from_source("t.c", unsaved_files=[("t.c", "int x;")])
        root = cursor_tuple(unit.cursor)
        if not {copy_first}:
            print(len(astsieve.get_path_to_nodes(root, "", "t.c")["t.c"]))
            ctypes.CDLL({libclang_copy!r})
        for call in (lambda: astsieve.get_path_to_nodes(root, "", "t.c"), astsieve_cindex.load_cindex):
            try:
                call()
                print("accepted")
            except RuntimeError as error:
                print(type(error).__name__, error)
    """)
    assert done.returncode == 0, done.stderr
    lines = done.stdout.splitlines()
    assert lines[:-2] == ([] if copy_first else ["1"])
    for line, error in zip(lines[-2:], ["RuntimeError", "LibclangMismatchError"]):
        assert line.startswith(error + " ") and "two different libclang files" in line
        assert libclang_in_use in line and libclang_copy in line
    # One text, whichever file either names first.
    texts = {
        line.split(" ", 1)[1].replace(libclang_in_use, "FILE").replace(libclang_copy, "FILE")
        for line in lines[-2:]
    }
    assert len(texts) == 1


def test_a_library_that_links_libclang_is_no_second_libclang(libclang_in_use, tmp_path):
    # It finds libclang's functions through its dependency, which defines them.
    source = tmp_path / "dependent.c"
    source.write_text("void clang_visitChildren(void);\nvoid *probe(void) { return (void *)clang_visitChildren; }\n")
    library = tmp_path / "libdependent.so"
    subprocess.run(
        ["gcc", "-shared", "-fPIC", "-Wl,--no-as-needed", "-o", str(library), str(source), libclang_in_use],
        check=True,
    )
    done = run_fresh(f"""
        import ctypes
        from astsieve_cindex import cursor_tuple
        cindex.conf.lib
        ctypes.CDLL({str(library)!r})
        unit = cindex.TranslationUnit.from_source("t.c", unsaved_files=[("t.c", "int x;")])
        print(len(astsieve.get_path_to_nodes(cursor_tuple(unit.cursor), "", "t.c")["t.c"]))
        print(astsieve_cindex.libclang_file())
    """)
    assert done.returncode == 0, done.stderr
    assert done.stdout.splitlines() == ["1", libclang_in_use]


def test_a_library_that_is_no_libclang_is_refused_clearly(tmp_path):
    # clang.cindex loads it when told not to check its functions; the one
    # it has is in no libclang.
    source = tmp_path / "other.c"
    source.write_text("void clang_getTranslationUnitCursor(void) {}\n")
    library = tmp_path / "libother.so"
    subprocess.run(["gcc", "-shared", "-fPIC", "-o", str(library), str(source)], check=True)
    done = run_fresh(f"""
        cindex.Config.set_library_file({str(library)!r})
        cindex.Config.set_compatibility_check(False)
        try:
            astsieve_cindex.load_cindex()
        except astsieve_cindex.LibclangMismatchError as error:
            print(error)
    """)
    assert done.returncode == 0, done.stderr
    assert done.stdout.splitlines() == ["cannot tell which libclang file clang.cindex loaded"]


def test_mapped_file_reads_paths_with_spaces_and_skips_anonymous_mappings(tmp_path):
    maps = tmp_path / "maps"
    maps.write_text(
        "1000-2000 r-xp 00000000 08:01 42 /opt/my libs/libclang.so\n"
        "2000-3000 rw-p 00000000 00:00 0 \n"
        "3000-4000 rw-p 00000000 00:00 0 [heap]\n"
    )
    assert mapped_file(0x1800, str(maps)) == "/opt/my libs/libclang.so"
    assert [mapped_file(address, str(maps)) for address in (0x2000, 0x3FFF, 0x4000)] == [None] * 3
