"""Times `scan --cache` on the generated C project of c_project.py, side by
side in one run: a cold scan that fills the cache, a rescan with nothing
changed, and a rescan after one source file changed (best of 3 each, one
worker so that outputs can be compared byte for byte), and checks that the
warm output equals a cold scan's with a fresh cache and without one.

    .venv/bin/python bench/scan_cache.py
"""

import os
import resource
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import c_project  # noqa: E402

root = Path(tempfile.mkdtemp(prefix="scan-cache-"))
build = c_project.generate(root, 40)
py = sys.executable
def run(*extra):
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    t = time.perf_counter()
    out = subprocess.run([py, "-m", "astsieve_cindex", "scan", "-p", str(build), "--pattern", "include/.*", "--jobs", "1", *extra],
                         capture_output=True, cwd=root)
    wall = time.perf_counter() - t
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = after.ru_utime + after.ru_stime - before.ru_utime - before.ru_stime
    assert out.returncode == 0, out.stderr[-500:]
    return wall, cpu, out.stdout
rows = {}
best = lambda f: min((f() for _ in range(3)), key=lambda r: r[0])
def cold():
    shutil.rmtree(root / "cache", ignore_errors=True)
    return run("--cache", str(root / "cache"))
rows["cold scan --cache"] = best(cold)
rows["rescan, nothing changed"] = best(lambda: run("--cache", str(root / "cache")))
src = sorted((root / "src").glob("*.c"))[0]
text = src.read_text()
n = [0]
last = [None]
def changed_one():
    n[0] += 1
    src.write_text(text + f"\nint bench_touch_{n[0]};\n")
    last[0] = run("--cache", str(root / "cache"))
    return last[0]
rows["rescan, one source changed"] = best(changed_one)
fresh = run("--cache", str(root / "fresh"))
assert fresh[2] == last[0][2], "warm output differs from cold"
plain = run()
assert plain[2] == fresh[2]
cold_wall, cold_cpu = rows["cold scan --cache"][:2]
print("| | wall s | CPU s | wall ÷ cold | CPU ÷ cold |\n|---|---|---|---|---|")
for name, (w, c, _) in rows.items():
    print(f"| {name} | {w:.2f} | {c:.2f} | {w/cold_wall:.2f}x | {c/cold_cpu:.2f}x |")
print("outputs equal to a cold scan: yes")
shutil.rmtree(root)
