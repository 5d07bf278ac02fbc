import os

import pytest

import astsieve_cindex


@pytest.fixture(scope="session")
def cindex():
    return astsieve_cindex.load_cindex()


@pytest.fixture
def parse(cindex, tmp_path):
    """Writes `files` (name -> str or bytes) into a fresh directory and parses
    `main` among them; fails the test on any error diagnostic."""

    def parse(files, main, args=(), options=0):
        for name, text in files.items():
            path = tmp_path / name if isinstance(name, str) else os.path.join(os.fsencode(tmp_path), name)
            with open(path, "wb") as out:
                out.write(text.encode() if isinstance(text, str) else text)
        unit = cindex.TranslationUnit.from_source(str(tmp_path / main), args=list(args), options=options)
        errors = [str(d) for d in unit.diagnostics if d.severity >= cindex.Diagnostic.Error]
        assert not errors
        return unit

    return parse
