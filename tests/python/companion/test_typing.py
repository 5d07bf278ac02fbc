"""The installed stub and annotations, as a type checker sees them."""

import subprocess
import sys
import textwrap

CONFIG = "[mypy]\nstrict = True\n[mypy-clang.*]\nignore_missing_imports = True\n"

CLIENT = """
    import pathlib
    import astsieve
    import astsieve_cindex
    from clang.cindex import Cursor, TranslationUnit

    def lines(unit: TranslationUnit) -> dict[str, dict[int, astsieve_cindex.CursorList]]:
        return astsieve_cindex.get_path_to_lineno_to_nodes(unit, b"", pathlib.Path("m.c"))

    def plain_lines(unit: TranslationUnit) -> dict[str, dict[int, list[Cursor]]]:
        return astsieve_cindex.to_lists(lines(unit))

    def plain_children(cursor: Cursor) -> dict[str, list[Cursor]]:
        first: Cursor = astsieve_cindex.get_path_to_nodes(cursor)["m.c"][0]
        return astsieve_cindex.to_lists(astsieve_cindex.get_path_to_nodes(first, ".*"))

    def raw(unit: TranslationUnit) -> list[tuple[int, int, list[int]]]:
        node = astsieve_cindex.cursor_tuple(unit.cursor)
        return astsieve.get_path_to_nodes(node, "", b"m.c")["m.c"]
"""

MISTAKES = """
    import astsieve, astsieve_cindex
    astsieve.get_path_to_lineno_to_nodes(1.0, "", "")
    astsieve.update_path_lineno((1, 2, [3, 4, 5]), "", "", "")
    astsieve.get_path_to_nodes((1, 2, [3, 4, 5]), "", "")["m.c"][0][2].upper()
    astsieve.get_path_to_nodes((1, 2, [3, 4, 5]), arg1="", arg2="")
    astsieve_cindex.get_path_to_nodes(astsieve_cindex.load_cindex().Cursor())["m.c"].append(None)
"""


def mypy(tmp_path, *arguments):
    (tmp_path / "mypy.ini").write_text(CONFIG)
    command = [sys.executable, "-m", "mypy", "--config-file", "mypy.ini", "--cache-dir", "cache"]
    return subprocess.run(
        [*command, *arguments], cwd=tmp_path, capture_output=True, text=True, timeout=300
    )


def test_companion_and_client_code_check_strictly(tmp_path):
    (tmp_path / "client.py").write_text(textwrap.dedent(CLIENT))
    for arguments in (["client.py"], ["-p", "astsieve_cindex"]):
        done = mypy(tmp_path, *arguments)
        assert done.returncode == 0, done.stdout


def test_stub_rejects_wrong_calls(tmp_path):
    (tmp_path / "mistakes.py").write_text(textwrap.dedent(MISTAKES))
    done = mypy(tmp_path, "mistakes.py")
    flagged = sorted(
        {int(line.split(":")[1]) for line in done.stdout.splitlines() if ": error:" in line}
    )
    assert flagged == [3, 4, 5, 6, 7], done.stdout
