"""A generated C project shaped like a real one, for bench/scan_project.py.

Twelve project headers in include/ (a config header, utilities, containers,
logging, networking, an event loop, a server built on the others), each
with structs, typedefs, macros, prototypes and static inline functions, and
each including the C library headers it needs (<stdio.h>, <stdlib.h>,
<string.h>, <stdint.h>, <stdarg.h>, <time.h>, <errno.h>, <unistd.h>,
<sys/socket.h>, <netinet/in.h>, <poll.h>, <pthread.h>, <signal.h>,
<fcntl.h>, <ctype.h>, <limits.h>). Units in src/ include four to eight of
them and some C library headers directly, and define functions with loops,
switches, calls and macros. The compile commands come from a Makefile's
flags (written beside them as Makefile): one CFLAGS for all units, and a
per-target flag (-DUSE_ARENA, which changes mem.h's declarations) for every
fifth unit, as makefiles give some objects flags of their own.
"""

from __future__ import annotations

import json
from pathlib import Path
from typing import Dict, List

__all__ = ["CFLAGS", "HEADERS", "PATTERN", "TARGET_FLAGS", "generate"]

CFLAGS = (
    "-std=c11 -pedantic -Wall -Wextra -Wno-unused-parameter -O2 -g "
    "-D_GNU_SOURCE -D_DEFAULT_SOURCE -DHAVE_CONFIG_H -Iinclude -Isrc"
)
TARGET_FLAGS = "-DUSE_ARENA"
# The project's include folder, as the units' -Iinclude reaches it.
PATTERN = "include/.*"

# Header -> (C library headers, project headers it includes).
HEADERS: Dict[str, List[List[str]]] = {
    "config": [["limits.h", "stdint.h"], []],
    "util": [["stddef.h", "stdint.h", "string.h", "ctype.h"], ["config"]],
    "mem": [["stdlib.h", "string.h"], ["util"]],
    "list": [["stddef.h"], ["mem"]],
    "dict": [["stdint.h"], ["mem", "list"]],
    "buffer": [["stdarg.h", "stdio.h"], ["mem"]],
    "log": [["stdio.h", "stdarg.h", "time.h", "errno.h"], ["util"]],
    "hash": [["stdint.h"], ["util"]],
    "net": [["sys/socket.h", "netinet/in.h", "unistd.h", "fcntl.h"], ["buffer", "log"]],
    "event": [["poll.h", "time.h", "signal.h"], ["list", "log"]],
    "thread": [["pthread.h"], ["mem"]],
    "server": [["stdio.h"], ["net", "event", "dict", "hash", "thread"]],
}
_LIBRARY = ["stdio.h", "stdlib.h", "string.h", "errno.h", "unistd.h", "ctype.h", "time.h"]


def _header(name: str, library: List[str], project: List[str]) -> str:
    upper = name.upper()
    lines = ["#pragma once"]
    lines += [f"#include <{header}>" for header in library]
    lines += [f'#include "{header}.h"' for header in project]
    lines += [
        f"#define {upper}_MAX 64",
        f"#define {upper}_FLAG(n) (1u << (n))",
        f"#define {upper}_CHECK(x) ((x) != 0 ? (x) : -1)",
        f"typedef unsigned long {name}_size;",
        f"typedef struct {name}_item {{",
        "  int id;",
        "  unsigned flags;",
        "  char name[32];",
        f"  {name}_size length;",
        "  void *data;",
        f"  struct {name}_item *next;",
        f"}} {name}_item;",
        f"typedef int (*{name}_visit)({name}_item *item, void *context);",
        f"enum {name}_state {{ {upper}_IDLE, {upper}_BUSY, {upper}_DONE, {upper}_FAILED }};",
    ]
    if name == "mem":
        lines += [
            "#ifdef USE_ARENA",
            "typedef struct arena { char *base; size_t used, size; } arena;",
            "void *arena_alloc(arena *a, size_t size);",
            "#define mem_alloc(size) arena_alloc(mem_arena(), (size))",
            "arena *mem_arena(void);",
            "#else",
            "#define mem_alloc(size) malloc(size)",
            "#endif",
        ]
    for verb in ("create", "destroy", "reset", "copy", "find", "walk", "count", "dump"):
        lines.append(f"int {name}_{verb}({name}_item *item, {name}_visit visit, void *context);")
    lines += [
        f"static inline int {name}_is_busy(const {name}_item *item) {{",
        f"  return item && (item->flags & {upper}_FLAG(1)) != 0;",
        "}",
        f"static inline {name}_size {name}_total(const {name}_item *item) {{",
        f"  {name}_size total = 0;",
        "  for (; item; item = item->next) {",
        f"    if (item->id > {upper}_MAX) continue;",
        "    total += item->length;",
        "  }",
        "  return total;",
        "}",
        f"static inline int {name}_compare(const {name}_item *a, const {name}_item *b) {{",
        "  int order = a->id - b->id;",
        "  return order ? order : (int)(a->length - b->length);",
        "}",
    ]
    return "\n".join(lines) + "\n"


def _unit(number: int) -> str:
    names = list(HEADERS)
    chosen = [names[(number * 7 + step * 5) % len(names)] for step in range(4 + number % 5)]
    used = list(dict.fromkeys(["config", *chosen]))
    library = [_LIBRARY[(number + step) % len(_LIBRARY)] for step in range(3 + number % 3)]
    lines = [f"#include <{header}>" for header in dict.fromkeys(library)]
    lines += [f'#include "{header}.h"' for header in used]
    lines.append(f"static int unit{number}_calls;")
    for index, name in enumerate(used):
        upper = name.upper()
        lines += [
            f"int unit{number}_use_{name}({name}_item *items, int count) {{",
            "  int found = 0;",
            "  for (int i = 0; i < count; i++) {",
            f"    switch (items[i].id % {3 + index}) {{",
            "    case 0:",
            f"      found += {name}_is_busy(&items[i]);",
            "      break;",
            "    case 1:",
            f"      found += (int){name}_total(&items[i]) + {upper}_CHECK(items[i].flags);",
            "      break;",
            "    default:",
            f"      if (i > 0 && {name}_compare(&items[i - 1], &items[i]) > 0) found--;",
            "    }",
            "  }",
            f"  unit{number}_calls++;",
            "  return found;",
            "}",
        ]
    lines += [
        f"int unit{number}_main(int argc, char **argv) {{",
        "  char line[128];",
        f'  snprintf(line, sizeof line, "unit {number}: %d args", argc);',
        "  return argv && line[0] ? (int)strlen(line) : 0;",
        "}",
    ]
    return "\n".join(lines) + "\n"


def generate(root: Path, units: int) -> Path:
    """Writes the project under `root` (include/, src/, Makefile and
    compile_commands.json) and returns the folder of the database."""
    (root / "include").mkdir(parents=True)
    (root / "src").mkdir()
    for name, (library, project) in HEADERS.items():
        (root / "include" / f"{name}.h").write_text(_header(name, library, project))
    entries, objects = [], []
    for number in range(units):
        source = f"src/unit{number}.c"
        (root / source).write_text(_unit(number))
        own = f" {TARGET_FLAGS}" if number % 5 == 0 else ""
        command = f"cc {CFLAGS}{own} -c {source} -o obj/unit{number}.o"
        entries.append({"directory": str(root), "command": command, "file": source})
        objects.append(f"obj/unit{number}.o")
    arena = " ".join(objects[::5])
    (root / "Makefile").write_text(
        f"CFLAGS = {CFLAGS}\n"
        f"{arena}: CFLAGS += {TARGET_FLAGS}\n"
        f"OBJECTS = {' '.join(objects)}\n"
        "obj/%.o: src/%.c\n\t$(CC) $(CFLAGS) -c $< -o $@\n"
    )
    (root / "compile_commands.json").write_text(json.dumps(entries, indent=1))
    return root
