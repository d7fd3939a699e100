import pytest

import zorlet_native

# Flipped once the in-memory backend answers every method.
MEMORY_READY = True


def _close_quietly(s):
    try:
        s.close()
    except BaseException:
        pass


@pytest.fixture
def store_path(tmp_path):
    return str(tmp_path / "store")


@pytest.fixture
def store(store_path):
    """A persistent store in a fresh directory."""
    s = zorlet_native.NativeStore(store_path)
    yield s
    _close_quietly(s)


@pytest.fixture
def mem_store():
    return zorlet_native.NativeStore.in_memory()


@pytest.fixture(params=["lmdb", "memory"])
def any_store(request, tmp_path):
    """Behaviour both backends share: the same test runs on each."""
    if request.param == "memory":
        if not MEMORY_READY:
            pytest.skip("in-memory backend not built yet")
        yield zorlet_native.NativeStore.in_memory()
        return
    s = zorlet_native.NativeStore(str(tmp_path / "store"))
    yield s
    _close_quietly(s)
