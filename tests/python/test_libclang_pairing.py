"""clang.cindex and astsieve share one libclang of the pinned major."""

import importlib.metadata
import os
import pathlib
import re

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
            if len(fields) == 6 and os.path.basename(fields[5].strip()).startswith("libclang"):
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
