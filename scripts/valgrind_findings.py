"""Reads a valgrind text log and fails when a report (an error or a definite
leak: any block with a stack) has a frame in the astsieve module, its shared
object or the astsieve namespace. Prints the leak and error summaries and a
count of the reports that concern others (the interpreter, libclang, the
loader), which are not judged."""

import re
import sys

PREFIX = re.compile(r"^==\d+== ?")


def blocks(lines):
    block = []
    for line in lines:
        text = PREFIX.sub("", line.rstrip("\n"))
        if text.strip():
            block.append(text)
        elif block:
            yield block
            block = []
    if block:
        yield block


def main(path):
    with open(path) as log:
        reports = [block for block in blocks(log) if any(line.lstrip().startswith("at 0x") for line in block)]
    with open(path) as log:
        summary = [PREFIX.sub("", line.rstrip()) for line in log if re.search(r"(definitely|indirectly|possibly) lost:|still reachable:|ERROR SUMMARY", line)]
    in_module = [block for block in reports if any("/astsieve." in line or "astsieve::" in line for line in block)]
    print("\n".join(summary))
    print(f"reports: {len(reports)}, with a frame in the module: {len(in_module)}")
    for block in in_module:
        print("\n".join(line[:200] for line in block), end="\n\n")
    return 1 if in_module else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
