"""The README's example runs as pasted."""

import pathlib
import re
import subprocess
import sys

README = pathlib.Path(__file__).resolve().parents[3] / "README.md"


def test_example_runs(tmp_path):
    section = README.read_text().split("\n## Example\n", 1)[1]
    code = re.search(r"```python\n(.*?)```", section, re.S).group(1)
    (tmp_path / "example.c").write_text('#include <stdio.h>\nint main(void) {\n  puts("hi");\n  return 0;\n}\n')
    (tmp_path / "example.py").write_text(code)
    run = subprocess.run([sys.executable, "example.py"], cwd=tmp_path, capture_output=True, text=True)
    assert run.returncode == 0, run.stderr
    lines = run.stdout.splitlines()
    assert lines[0] == "2 ['FUNCTION_DECL', 'COMPOUND_STMT']"
    assert lines[1].startswith("3 ['CALL_EXPR'") and lines[2].startswith("4 ['RETURN_STMT'")
    assert re.fullmatch(r"\{'example.c': \[\(202, 0, \[\d+, \d+, \d+\]\)\]\}", lines[3])
