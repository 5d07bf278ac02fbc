"""Checks an installed astsieve: the bundled example and one query.

scripts/matrix.sh runs it in every fresh venv, beside the libclang source of
the cell, before the suite. Exits non-zero on the first difference.
"""

import subprocess
import sys

import astsieve_cindex

example = subprocess.run([sys.executable, "-m", "astsieve_cindex"], capture_output=True, text=True)
assert example.returncode == 0, example.stderr
assert "MACRO_INSTANTIATION SQUARE" in example.stdout, example.stdout

cindex = astsieve_cindex.load_cindex()
unit = cindex.TranslationUnit.from_source("q.c", unsaved_files=[("q.c", "int answer = 6 * 7;\n")])
kinds = [cursor.kind.name for cursor in astsieve_cindex.get_path_to_lineno_to_nodes(unit)["q.c"][1]]
assert kinds == ["VAR_DECL", "BINARY_OPERATOR", "INTEGER_LITERAL", "INTEGER_LITERAL"], kinds
print(f"example and query pass: {astsieve_cindex.__file__}")
