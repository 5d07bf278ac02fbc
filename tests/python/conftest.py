import ctypes
import glob
import os
import re

import pytest

import astsieve_cindex


@pytest.fixture(scope="session")
def cindex():
    return astsieve_cindex.load_cindex()


class _CXString(ctypes.Structure):
    _fields_ = [("data", ctypes.c_void_p), ("private_flags", ctypes.c_uint)]


@pytest.fixture(scope="session")
def libclang_major(cindex):
    """The major version of the libclang that clang.cindex loaded, as the
    library itself reports it."""
    # Functions fetched by index are fresh objects: cindex's own stay as it
    # configured them.
    lib = cindex.conf.lib
    version_of, text_of, dispose = (
        lib["clang_getClangVersion"], lib["clang_getCString"], lib["clang_disposeString"]
    )
    version_of.restype, text_of.argtypes, text_of.restype = _CXString, [_CXString], ctypes.c_char_p
    dispose.argtypes = [_CXString]
    version = version_of()
    try:
        text = text_of(version).decode()
    finally:
        dispose(version)
    return int(re.search(r"version (\d+)\.", text).group(1))


@pytest.fixture(scope="session")
def builtin_include_args(cindex, libclang_major, tmp_path_factory):
    """Compiler arguments that give libclang clang's builtin headers
    (<stddef.h>, <stdarg.h>, ...) where it has none of its own, as with the
    libclang wheel: the include folder of this machine's clang resource
    directory nearest to the loaded major, newer before older."""
    probe = tmp_path_factory.mktemp("builtin") / "probe.c"
    probe.write_text("#include <stddef.h>\n")
    unit = cindex.TranslationUnit.from_source(str(probe))
    if not any(d.severity >= cindex.Diagnostic.Error for d in unit.diagnostics):
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
