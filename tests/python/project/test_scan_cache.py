"""`scan --cache`: a warm cache parses only the units whose files changed,
and a damaged entry is rebuilt, never believed."""

import hashlib
import json
import re

import pytest

from astsieve_cindex.project.cache import VERSION as CACHE_VERSION
from project_files import (
    HEADERS,
    run_cli,
    json_lines,
    edit,
)


def cache_entries(folder):
    """{entry: its modification time} of a cache folder."""
    return {path.name: path.stat().st_mtime_ns for path in (folder / f"v{CACHE_VERSION}").glob("*.entry")}


def kept_answers(folder):
    """{file: its modification time} of the builtin-header finder's answers
    kept in a cache folder."""
    return {path.name: path.stat().st_mtime_ns for path in folder.glob("builtin-headers-*.json")}


def cached_scan(project, cache, logged=False):
    """The output of a scan with `cache`, and how many units came from it;
    when `logged`, also the files libclang says it parsed (its log, which a
    worker's parse hands on as warnings that --verbose prints)."""
    options = ["--pattern", HEADERS, "--jobs", "1", "--verbose", "--cache", str(cache)]
    env = {"LIBCLANG_LOGGING": "1"} if logged else None
    done = run_cli("scan", "-p", "build", *options, cwd=project, env=env)
    assert done.returncode == 0, done.stderr
    (hits,) = re.findall(r"scan: note: (\d+) of 2 units from the cache\n", done.stderr)
    if not logged:
        return done.stdout, int(hits)
    line = r"^\[libclang:clang_parseTranslationUnit\w*: [0-9.]+\] (.+?): "
    parsed = re.findall(line, done.stderr, re.M)
    return done.stdout, int(hits), parsed


def damage_entry(cache, unit, damage):
    (path,) = [
        path
        for path in (cache / f"v{CACHE_VERSION}").glob("*.entry")
        if json.loads(path.read_bytes().partition(b"\n")[0])["identity"]["file"] == str(unit)
    ]
    data = path.read_bytes()
    if damage == "forged":  # well-formed, checksum and all, but not what a scan writes
        header_text, _, rest = data.partition(b"\n")
        header = json.loads(header_text)
        value_text = rest[: header["parts"][0]]
        value = json.loads(value_text)
        value["diagnostics"] = [["error", 5]]
        forged = json.dumps(value).encode()
        header["parts"][0] = len(forged)
        body = json.dumps(header).encode() + b"\n" + forged + rest[len(value_text) : -65]
        path.write_bytes(body + hashlib.sha256(body).hexdigest().encode() + b"\n")
    elif damage == "truncated":
        path.write_bytes(data[:-10])
    else:  # one bit of the sections' data flipped
        at = data.index(b'"lines"')
        path.write_bytes(data[:at] + bytes([data[at] ^ 1]) + data[at + 1 :])


def give_answer_arguments(cache, words):
    """The kept builtin-header answer, its arguments followed by `words`."""
    (path,) = cache.glob("builtin-headers-*.json")
    answer = json.loads(path.read_text())
    path.write_text(json.dumps({**answer, "arguments": answer["arguments"] + words}))


@pytest.mark.parametrize("damage", [None, "truncated", "flipped", "forged", "answer"])
def test_a_warm_cache_parses_only_the_units_whose_files_changed(project, tmp_path, damage):
    cache, area = tmp_path / "cache", project / "src" / "area.cpp"
    cold, hits = cached_scan(project, cache)
    uncached = run_cli("scan", "-p", "build", "--pattern", HEADERS, "--jobs", "1", cwd=project)
    assert (cold, hits) == (uncached.stdout, 0) and len(json_lines(cold)) == 3
    entries, answers = cache_entries(cache), kept_answers(cache)
    assert len(entries) == 2 and len(answers) == 1
    if damage == "answer":  # words libclang would act on are no answer of the finder's
        give_answer_arguments(cache, ["-Xclang", "-load", "-Xclang", str(tmp_path / "evil.so")])
        assert cached_scan(project, cache) == (cold, 2) and kept_answers(cache) != answers
        answers = kept_answers(cache)
    elif damage is not None:  # never believed: parsed again, and the entry rebuilt
        damage_entry(cache, area, damage)
        assert cached_scan(project, cache) == (cold, 1)
        assert len(cache_entries(cache)) == 2 and cache_entries(cache) != entries
        entries = cache_entries(cache)
    # Nothing parsed, no unit and no probe of the builtin headers (their
    # finder's answer is read, not found and written again), nothing written.
    assert cached_scan(project, cache, logged=True) == (cold, 2, [])
    assert cache_entries(cache) == entries and kept_answers(cache) == answers
    edit(area, "unused_helper", "spare_helper")
    changed, hits, parsed = cached_scan(project, cache, logged=True)
    assert (changed, hits) == (cached_scan(project, tmp_path / "fresh")[0], 1) and changed != cold
    assert parsed == [str(area)]
    renewed = cache_entries(cache)
    assert [renewed[name] == entries[name] for name in sorted(entries)].count(False) == 1
    edit(project / "include" / "geo.h", "int x;", "int x = 0;")  # read by both
    changed, hits = cached_scan(project, cache)
    assert (changed, hits) == (cached_scan(project, tmp_path / "again")[0], 0)
    size = run_cli("cache", str(cache), cwd=project)
    assert re.fullmatch(rf"{cache}: 2 entries, [1-9][0-9]+ bytes\n", size.stdout), size.stderr
    cleared = run_cli("cache", str(cache), "--clear", cwd=project)
    assert cleared.stdout.startswith("removed 2 entries, ") and not cache_entries(cache)


def test_a_unit_that_missed_a_file_is_parsed_until_the_file_is_there(project, tmp_path):
    # Its errors come from files it did not read: a generated header may
    # appear while every file it read stays as it was.
    cache = tmp_path / "cache"
    edit(project / "src" / "area.cpp", '#include "geo.h"', '#include "geo.h"\n#include "gen.h"')
    missed, hits = cached_scan(project, cache)
    assert hits == 0 and len(cache_entries(cache)) == 1
    assert cached_scan(project, cache) == (missed, 1)
    (project / "include" / "gen.h").write_text("int generated;\n")
    found, hits = cached_scan(project, cache)
    assert hits == 1 and '"generated"' in found and '"generated"' not in missed
    assert cached_scan(project, cache) == (found, 2)
