"""A short run of all three functions, for scripts/valgrind_leaks.sh: results
with several files and lines, and every way a call can fail after its
arguments were converted, a few times over."""

import os
import sys
import tempfile

import astsieve_cindex

cindex = astsieve_cindex.load_cindex()

import astsieve  # noqa: E402
from astsieve_cindex import cursor_tuple, translation_unit_handle  # noqa: E402

# The header's name is long enough for a back-referencing pattern to run out
# of the matcher's step budget.
HEADER_NAME = b"inc/" + b"a" * 30 + b".h"
STEPS_PATTERN = r".*/((a|a)*)\1x"
NESTING_PATTERN = "(?=" * 700 + "(.)" + ")" * 700 + r".*\1.*"
HEADER = b"struct point { int x, y; };\nstatic inline int twice(int v) { return v + v; }\n"
MAIN = (
    b'#include "' + HEADER_NAME + b'"\n'
    b'#include "odd\xff.h"\n'
    b"#define SQUARE(v) ((v) * (v))\n"
    b"int area(struct point p) {\n"
    b"  int total = 0;\n"
    b"  for (int i = 0; i < p.x; ++i) { total += SQUARE(i) + twice(p.y); }\n"
    b"  return total;\n"
    b"}\n"
)
ROUNDS = 3


class Refuses:
    """A sequence whose length cannot be read."""

    def __len__(self):
        raise LookupError("no length")

    def __getitem__(self, index):
        raise LookupError("no item")


def expect(error, function, *args):
    try:
        function(*args)
    except error:
        return
    sys.exit(f"{function.__name__}{args!r} did not raise {error.__name__}")


def write(directory, name, text):
    path = os.path.join(directory, name)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as out:
        out.write(text)
    return path


def main():
    with tempfile.TemporaryDirectory() as text_directory:
        directory = os.fsencode(text_directory)
        write(directory, HEADER_NAME, HEADER)
        write(directory, b"odd\xff.h", b"int odd;\n")
        main_path = os.fsdecode(write(directory, b"m.c", MAIN))
        unit = cindex.TranslationUnit.from_source(main_path, args=["-I", text_directory])
        handle = translation_unit_handle(unit)
        top = cursor_tuple(unit.cursor)
        area = cursor_tuple([c for c in unit.cursor.get_children() if c.spelling == "area"][0])
        headers = ".*/inc/a+\\.h"
        for _ in range(ROUNDS):
            assert len(astsieve.get_path_to_lineno_to_nodes(handle, headers, main_path)) == 2
            assert astsieve.update_path_lineno(area, headers, main_path)
            assert len(astsieve.get_path_to_nodes(top, headers, main_path)) == 2
            for function, first in (
                (astsieve.get_path_to_lineno_to_nodes, handle),
                (astsieve.update_path_lineno, area),
                (astsieve.get_path_to_nodes, top),
            ):
                expect(RuntimeError, function, first, "(", main_path)
                expect(TypeError, function, first, None, main_path)
            # Only walks that reach the header run out of budget.
            for pattern in (STEPS_PATTERN, NESTING_PATTERN):
                expect(RuntimeError, astsieve.get_path_to_lineno_to_nodes, handle, pattern, main_path)
                expect(RuntimeError, astsieve.get_path_to_nodes, top, pattern, main_path)
            expect(UnicodeDecodeError, astsieve.get_path_to_lineno_to_nodes, handle, ".*", main_path)
            expect(UnicodeDecodeError, astsieve.get_path_to_nodes, top, ".*", main_path)
            expect(LookupError, astsieve.update_path_lineno, (area[0], area[1], Refuses()), "", main_path)
        print("exercised all three functions")


if __name__ == "__main__":
    main()
