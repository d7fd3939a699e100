import pytest

import zorlet_native


@pytest.fixture
def store_path(tmp_path):
    return str(tmp_path / "store")


@pytest.fixture
def store(store_path):
    s = zorlet_native.NativeStore(store_path)
    yield s
    try:
        s.close()
    except BaseException:
        pass
