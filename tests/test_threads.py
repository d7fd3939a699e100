"""One instance, several threads: the access word refuses overlapping calls at once and
is released on every path."""
import threading

import pytest

from factory import make_claim


class BlockingClaim:
    """A claim object whose first attribute read blocks until released.

    insert_claim reads claim attributes while it holds exclusive access, so
    while the read waits another thread can observe the held access word."""

    def __init__(self, claim, entered, release):
        self._claim, self._entered, self._release = claim, entered, release

    def __getattr__(self, name):
        if name == "claim_id":
            self._entered.set()
            self._release.wait(10)
        return getattr(self._claim, name)


@pytest.fixture(params=["lmdb", "memory"])
def both(request, tmp_path):
    import zorlet_native
    if request.param == "memory":
        yield zorlet_native.NativeStore.in_memory()
    else:
        s = zorlet_native.NativeStore(str(tmp_path / "s"))
        yield s
        s.close()


def test_exclusive_call_refuses_others_until_it_ends(both):
    entered, release = threading.Event(), threading.Event()
    results = {}

    def writer():
        results["insert"] = both.insert_claim(BlockingClaim(make_claim("c1"), entered, release))

    t = threading.Thread(target=writer)
    t.start()
    assert entered.wait(10)
    try:
        with pytest.raises(RuntimeError, match="^Already mutably borrowed$"):
            both.count_claims()
        with pytest.raises(RuntimeError, match="^Already borrowed$"):
            both.insert_claim(make_claim("c2"))
        # Methods that take no access at all are unaffected.
        assert both.__enter__() is both
    finally:
        release.set()
        t.join(10)
    assert results["insert"] is True
    assert both.count_claims() == 1
    assert both.insert_claim(make_claim("c2")) is True


def test_access_is_released_after_a_failed_conversion(both):
    class Broken:
        claim_id = "x"

        @property
        def content_id(self):
            raise KeyError("no content id")

    with pytest.raises(KeyError):
        both.insert_claim(Broken())
    assert both.insert_claim(make_claim("ok")) is True
    assert both.count_claims() == 1


def test_concurrent_readers_and_a_batch_writer_do_not_crash(both):
    both.insert_claims_batch([make_claim(f"c{i}", f"e{i % 7}", "activates", f"e{(i + 1) % 7}") for i in range(200)])
    errors = []

    def reader():
        for _ in range(50):
            try:
                both.claims_for("e1")
                both.bfs_claims("e1", 2)
                both.path_exists("e1", "e5", 3)
            except RuntimeError as e:  # only the documented conflict is allowed
                if str(e) != "Already mutably borrowed":
                    errors.append(e)

    def writer():
        for i in range(20):
            try:
                both.insert_claims_batch([make_claim(f"w{i}-{j}", "e1", "inhibits", f"e{j}") for j in range(20)])
            except RuntimeError as e:
                if str(e) != "Already borrowed":
                    errors.append(e)

    threads = [threading.Thread(target=reader) for _ in range(3)] + [threading.Thread(target=writer)]
    for t in threads:
        t.start()
    for t in threads:
        t.join(60)
    assert not errors
    assert all(not t.is_alive() for t in threads)
    # The access word is free again: an exclusive call succeeds.
    assert both.insert_claim(make_claim("final")) is True
