"""What the commands write on stderr besides what a test looks at."""

import re

# The note a run gives where the loaded libclang lacks its builtin headers
# and those of another major serve it (the PyPI wheel on a machine without
# clang of its major): said once per run, whatever the run does.
_OTHER_MAJOR_NOTE = re.compile(
    r"^python -m astsieve_cindex(?: \w+)?: note: libclang \S+ \(.*\) has no clang builtin headers "
    r"and this machine has none of its major; using those of .*, another major, .*\n",
    re.M,
)


def own_stderr(text):
    """`text` without the note on builtin headers of another major."""
    return _OTHER_MAJOR_NOTE.sub("", text, count=1)
