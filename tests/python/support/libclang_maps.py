"""Which libclang files the process has mapped, read from /proc/self/maps:
a check beside the package's own lookup, not a copy of it."""

import os


def mapped_libclang_files():
    """(device, inode) of every libclang file mapped into this process."""
    files = set()
    with open("/proc/self/maps") as maps:
        for line in maps:
            fields = line.split(maxsplit=5)
            name = os.path.basename(fields[5].strip()) if len(fields) == 6 else ""
            if name.startswith("libclang") and not name.startswith("libclang-cpp"):
                status = os.stat(fields[5].strip())
                files.add((status.st_dev, status.st_ino))
    return files
