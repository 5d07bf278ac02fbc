import glob
import os
import re
import sys

import pytest

import astsieve_cindex
from astsieve_cindex.project.builtin_headers import finds_builtin_headers, libclang_version, version_numbers

# The helpers every test folder shares: oracles, probes, sanitizer checks.
sys.path.insert(0, os.path.join(os.path.dirname(__file__), "support"))

from project_files import project  # noqa: E402, F401  the generated project, a fixture


@pytest.fixture(scope="session")
def cindex():
    return astsieve_cindex.load_cindex()


@pytest.fixture(scope="session")
def libclang_major(cindex):
    """The major version of the libclang that clang.cindex loaded, as the
    library itself reports it."""
    return version_numbers(libclang_version(cindex))[0]


@pytest.fixture(scope="session")
def builtin_include_args(cindex, libclang_major):
    """Compiler arguments that give libclang clang's builtin headers
    (<stddef.h>, <stdarg.h>, ...) where it has none of its own, as with the
    libclang wheel: the include folder of this machine's clang resource
    directory nearest to the loaded major, newer before older."""
    if finds_builtin_headers(cindex):
        return []
    folders = {}
    for header in glob.glob("/usr/lib/llvm-*/lib/clang/*/include/stddef.h"):
        major = int(re.match(r"/usr/lib/llvm-(\d+)/", header).group(1))
        folders.setdefault(major, os.path.dirname(header))
    if not folders:
        pytest.fail(
            f"libclang {libclang_major} finds no builtin headers, and this machine has no clang "
            "resource directory (Debian: libclang-common-N-dev)"
        )
    nearest = min(folders, key=lambda major: (abs(major - libclang_major), major < libclang_major))
    return ["-isystem", folders[nearest]]


@pytest.fixture
def parse(cindex, builtin_include_args, tmp_path):
    """Writes `files` (name -> str or bytes) into a fresh directory and parses
    `main` among them; fails the test on any error diagnostic."""

    def parse(files, main, args=(), options=0):
        for name, text in files.items():
            path = tmp_path / name if isinstance(name, str) else os.path.join(os.fsencode(tmp_path), name)
            with open(path, "wb") as out:
                out.write(text.encode() if isinstance(text, str) else text)
        arguments = [*args, *builtin_include_args]
        unit = cindex.TranslationUnit.from_source(str(tmp_path / main), args=arguments, options=options)
        errors = [str(d) for d in unit.diagnostics if d.severity >= cindex.Diagnostic.Error]
        assert not errors
        return unit

    return parse
