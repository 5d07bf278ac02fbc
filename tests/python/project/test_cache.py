"""The scan cache believes only whole entries of its own format whose files
still have the content they had; anything else is a miss."""

import hashlib
import json
import os
import signal
import subprocess
import sys
import textwrap
import time

import pytest

from astsieve_cindex.project.cache import VERSION, CacheError, ScanCache

IDENTITY = {"file": "/p/a.c", "arguments": ["-DX"], "directory": "/p", "pattern": ""}


def entry_file(folder):
    (name,) = [name for name in os.listdir(folder / f"v{VERSION}") if name.endswith(".entry")]
    return folder / f"v{VERSION}" / name


def damage_truncated(path):
    path.write_bytes(path.read_bytes()[:-10])


def damage_flipped(path):
    data = bytearray(path.read_bytes())
    data[len(data) // 3] ^= 0x01
    path.write_bytes(bytes(data))


def damage_foreign(path):
    # Whole and checksummed, but of another format.
    header, _, rest = path.read_bytes().partition(b"\n")
    body = rest[: rest[:-1].rindex(b"\n") + 1]
    document = json.loads(header)
    document["format"] = "something-else"
    body = json.dumps(document).encode() + b"\n" + body
    path.write_bytes(body + hashlib.sha256(body).hexdigest().encode() + b"\n")


def damage_source(path, source):
    source.write_text("int changed;\n")


@pytest.mark.parametrize(
    "damage", ["none", "truncated", "flipped", "foreign", "emptied", "source changed"]
)
def test_only_intact_entries_of_unchanged_files_are_taken(tmp_path, damage):
    source = tmp_path / "a.c"
    source.write_text("int a;\n")
    cache = ScanCache(str(tmp_path / "cache"))
    value = {"sections": ["x" * 100, "\udcff named"]}
    blobs = [b"\x00\n\xff" * 50, b""]
    cache.store(IDENTITY, [str(source)], value, blobs)
    path = entry_file(tmp_path / "cache")
    if damage == "truncated":
        damage_truncated(path)
    elif damage == "flipped":
        damage_flipped(path)
    elif damage == "foreign":
        damage_foreign(path)
    elif damage == "emptied":
        path.write_bytes(b"")
    elif damage == "source changed":
        damage_source(path, source)
    expected = (value, blobs) if damage == "none" else None
    assert cache.load(IDENTITY) == expected
    assert cache.load({**IDENTITY, "pattern": ".*"}) is None
    # A miss is rebuilt by storing again, and then taken.
    cache.store(IDENTITY, [str(source)], value, blobs)
    assert cache.load(IDENTITY) == (value, blobs)
    assert list(cache.files_read()) == [(IDENTITY, [str(source)])]
    assert cache.size().entries == 1
    assert cache.clear().entries == 1 and cache.size() == (0, 0)


def test_a_writer_killed_mid_write_leaves_no_partial_entry(tmp_path):
    source = tmp_path / "a.c"
    source.write_text("int a;\n")
    writer = subprocess.Popen(
        [
            sys.executable,
            "-c",
            textwrap.dedent(f"""
                from astsieve_cindex.project.cache import ScanCache
                cache = ScanCache({str(tmp_path / "cache")!r})
                identity = {IDENTITY!r}
                round = 0
                while True:
                    round += 1
                    cache.store(identity, [{str(source)!r}], {{"round": round, "text": "y" * 5_000_000}})
                    print(round, flush=True)
            """),
        ],
        stdout=subprocess.PIPE,
        text=True,
    )
    try:
        assert writer.stdout.readline().strip() == "1"  # one whole entry is there
        time.sleep(0.05)
        writer.send_signal(signal.SIGKILL)
    finally:
        writer.wait(timeout=60)
    found = ScanCache(str(tmp_path / "cache")).load(IDENTITY)
    assert found is not None
    value, blobs = found
    assert value["round"] >= 1 and len(value["text"]) == 5_000_000 and blobs == []
    cache = ScanCache(str(tmp_path / "cache"))
    assert cache.size().entries == 1
    cache.clear()
    assert os.listdir(tmp_path / "cache" / f"v{VERSION}") == []


def test_an_unusable_folder_is_one_clear_error(tmp_path):
    blocker = tmp_path / "file"
    blocker.write_text("")
    with pytest.raises(CacheError, match="cannot use the cache folder"):
        ScanCache(str(blocker / "cache"))
