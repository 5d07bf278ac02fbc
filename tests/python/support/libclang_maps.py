"""Which libclang files the process has mapped, read from /proc/self/maps:
a check beside the package's own lookup, not a copy of it."""

import os


def _rows(maps_path):
    # start-end perms offset dev inode [path]; the path may hold spaces.
    with open(maps_path, encoding="utf-8", errors="surrogateescape") as maps:
        return [row.rstrip("\n").split(maxsplit=5) for row in maps]


def mapped_libclang_files():
    """(device, inode) of every libclang file mapped into this process."""
    files = set()
    for fields in _rows("/proc/self/maps"):
        name = os.path.basename(fields[5].strip()) if len(fields) == 6 else ""
        if name.startswith("libclang") and not name.startswith("libclang-cpp"):
            status = os.stat(fields[5].strip())
            files.add((status.st_dev, status.st_ino))
    return files


def mapped_file(address, maps_path="/proc/self/maps"):
    """The real path of the file mapped at `address` in this process; None
    when no file is mapped there."""
    for fields in _rows(maps_path):
        start, _, end = fields[0].partition("-")
        if int(start, 16) <= address < int(end, 16):
            if len(fields) < 6 or not fields[5].startswith("/"):
                return None
            return os.path.realpath(fields[5])
    return None
