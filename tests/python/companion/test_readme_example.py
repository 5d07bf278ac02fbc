"""The README's examples run as pasted."""

import pathlib
import re
import shutil
import subprocess
import sys

import astsieve_cindex
from readme import section

BUNDLED_EXAMPLE = pathlib.Path(astsieve_cindex.__file__).resolve().parent / "example"


def run_python(code, cwd):
    (cwd / "example.py").write_text(code)
    run = subprocess.run([sys.executable, "example.py"], cwd=cwd, capture_output=True, text=True)
    assert run.returncode == 0, run.stderr
    return run.stdout


def test_example_runs(tmp_path):
    code = re.search(r"```python\n(.*?)```", section("### Example"), re.S).group(1)
    (tmp_path / "example.c").write_text('#include <stdio.h>\nint main(void) {\n  puts("hi");\n  return 0;\n}\n')
    lines = run_python(code, tmp_path).splitlines()
    assert lines[0] == "2 ['FUNCTION_DECL', 'COMPOUND_STMT']"
    assert lines[1].startswith("3 ['CALL_EXPR'") and lines[2].startswith("4 ['RETURN_STMT'")
    assert re.fullmatch(r"\{'example.c': \[\(202, 0, \[\d+, \d+, \d+\]\)\]\}", lines[3])


def test_companion_example_prints_what_the_readme_shows(tmp_path):
    code, output = re.search(r"```python\n(.*?)```.*?```text\n(.*?)```", section("## Example"), re.S).groups()
    for name in ("shapes.c", "shapes.h"):
        shutil.copy(BUNDLED_EXAMPLE / name, tmp_path)
    assert run_python(code, tmp_path) == output
