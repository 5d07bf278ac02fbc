"""Memory exhaustion in the module's own work raises MemoryError and leaves the
module usable.

Each case runs in a child interpreter that parses a unit whose walk needs tens
of megabytes of engine memory (one struct with many fields: declarations
only, so libclang itself allocates next to nothing while it is walked), caps
its address space at what it already uses, calls the module, lifts the cap
and calls again. One more case runs out while compiling a long pattern.
"""

import json
import os
import subprocess
import sys

import pytest

from sanitizers import skip_under_address_sanitizer

CHILD = r"""
import ctypes, json, resource, sys
import astsieve, astsieve_cindex
from astsieve_cindex import cursor_tuple, translation_unit_handle

FIELDS = 100_000
cindex = astsieve_cindex.load_cindex()
source = "struct wide {\n" + "".join(f"  int f{i};\n" for i in range(FIELDS)) + "};\n"
unit = cindex.TranslationUnit.from_source("wide.c", unsaved_files=[("wide.c", source)])
struct = next(unit.cursor.get_children())
struct_tuple = cursor_tuple(struct)
handle = translation_unit_handle(unit)
module, _, name = sys.argv[1].rpartition(".")
function = getattr(astsieve_cindex if module else astsieve, name)
first = {"unit": handle, "struct": struct_tuple, "none": 0,
         "unit object": unit, "struct cursor": struct}[sys.argv[2]]
pattern = sys.argv[3].encode()
# The companion checks its libclang pairing on its first query: done here,
# before the cap, with a query that finds nothing.
astsieve_cindex.get_path_to_nodes(unit, b"", b"elsewhere.c")

def address_space_in_use():
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith("VmSize:"):
                return int(line.split()[1]) * 1024

def count_nodes(result):
    groups = [group for by_line in result.values() for group in
              (by_line.values() if isinstance(by_line, dict) else [by_line])]
    return sum(len(group) for group in groups)

# Blocks of a page or more get address space of their own rather than reuse
# room that malloc already holds, so the cap below bites as soon as the engine
# grows an array past a page.
M_MMAP_THRESHOLD = -3
ctypes.CDLL(None).mallopt(M_MMAP_THRESHOLD, 4096)
soft, hard = resource.getrlimit(resource.RLIMIT_AS)
resource.setrlimit(resource.RLIMIT_AS, (address_space_in_use(), hard))
try:
    outcome = {"capped": "returned %d nodes" % count_nodes(function(first, pattern, b"wide.c"))}
except MemoryError as error:
    outcome = {"capped": "MemoryError: %s" % error}
finally:
    resource.setrlimit(resource.RLIMIT_AS, (soft, hard))
result = function(first, pattern, b"wide.c")
outcome["paths"] = sorted(result)
outcome["nodes"] = count_nodes(result)
print(json.dumps(outcome))
"""


@skip_under_address_sanitizer
@pytest.mark.parametrize(
    "function, first, pattern, paths, nodes",
    [
        ("get_path_to_lineno_to_nodes", "unit", "", ["wide.c"], 100_001),
        ("update_path_lineno", "struct", "", ["wide.c"], 100_001),
        ("get_path_to_nodes", "struct", "", ["wide.c"], 100_000),
        ("astsieve_cindex.get_path_to_lineno_to_nodes", "unit object", "", ["wide.c"], 100_001),
        ("astsieve_cindex.get_path_to_nodes", "struct cursor", "", ["wide.c"], 100_000),
        # Handle 0: compiling the pattern is all the work there is, and its
        # program takes some megabytes.
        ("get_path_to_lineno_to_nodes", "none", "/usr/include/[a-z]{90000}(/[a-z]+)*\\.h", [], 0),
    ],
    ids=["unit", "subtree", "children", "companion-unit", "companion-children", "pattern"],
)
def test_exhausted_call_raises_memory_error_then_module_works(function, first, pattern, paths, nodes):
    # One malloc arena: otherwise malloc, refused more address space,
    # serves the engine from the room left in libclang's parsing thread's
    # arena.
    env = dict(os.environ, GLIBC_TUNABLES="glibc.malloc.arena_max=1")
    child = subprocess.run(
        [sys.executable, "-c", CHILD, function, first, pattern],
        capture_output=True,
        text=True,
        env=env,
        timeout=300,
    )
    assert child.returncode == 0, child.stderr
    outcome = json.loads(child.stdout)
    # The text is the engine's std::bad_alloc: the engine ran out, not the
    # conversion to Python objects.
    assert outcome == {"capped": "MemoryError: std::bad_alloc", "paths": paths, "nodes": nodes}
