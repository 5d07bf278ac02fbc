import pytest

import astsieve_cindex


@pytest.fixture(scope="session")
def cindex():
    return astsieve_cindex.load_cindex()
