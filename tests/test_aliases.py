"""Alias groups: lookups with normalised ids, persistence, and rebuilding after purges."""
import gc

import pytest

from factory import make_claim
from zorlet_native import NativeStore

LOOKUPS = ["get_alias_group", "get_alias_group_readonly"]
RESOLVERS = ["resolve", "resolve_readonly"]


def same_as(claim_id, a, b, source_id="aliases"):
    return make_claim(claim_id, a, "same_as", b, source_id=source_id)


@pytest.fixture
def grouped(store):
    """{tnf, tnf-alpha, cachectin} and {il6, interleukin-6}, declared by two sources."""
    return _grouped(store)


@pytest.fixture
def any_grouped(any_store):
    return _grouped(any_store)


def _grouped(store):
    store.insert_claims_batch([
        same_as("a1", "tnf", "tnf-alpha", "hgnc"),
        same_as("a2", "cachectin", "tnf", "uniprot"),
        same_as("a3", "il6", "interleukin-6", "hgnc"),
        make_claim("r1", "tnf-alpha", "activates", "nfkb1", source_id="pmid:1"),
    ])
    return store


@pytest.mark.parametrize("method", LOOKUPS)
def test_group_lookups_return_python_sets(any_grouped, method):
    group = getattr(any_grouped, method)("cachectin")
    assert type(group) is set
    assert group == {"tnf", "tnf-alpha", "cachectin"}


@pytest.mark.parametrize("method", RESOLVERS)
def test_members_share_one_representative(any_grouped, method):
    resolve = getattr(any_grouped, method)
    root = resolve("tnf")
    assert root in {"tnf", "tnf-alpha", "cachectin"}
    assert resolve("tnf-alpha") == resolve("cachectin") == root
    assert resolve("il6") != root


@pytest.mark.parametrize("asked", ["TNF-α", "  tnf-ALPHA ", "TNF\u200b-alpha"])
def test_asked_ids_are_normalised(any_grouped, asked):
    assert any_grouped.resolve_readonly(asked) == any_grouped.resolve("tnf-alpha")
    assert any_grouped.get_alias_group(asked) == {"tnf", "tnf-alpha", "cachectin"}


@pytest.mark.parametrize("asked, expected", [("Unknown Thing", "unknown thing"), ("", ""), ("β-Catenin", "beta-catenin")])
def test_an_id_in_no_group_is_its_own_group(any_store, asked, expected):
    assert any_store.resolve(asked) == expected
    assert any_store.resolve_readonly(asked) == expected
    assert any_store.get_alias_group(asked) == {expected}
    assert any_store.get_alias_group_readonly(asked) == {expected}


def test_read_only_and_compressing_lookups_agree(any_grouped):
    for entity in ("tnf", "tnf-alpha", "cachectin", "il6", "x"):
        assert any_grouped.resolve_readonly(entity) == any_grouped.resolve(entity)
        assert any_grouped.get_alias_group_readonly(entity) == any_grouped.get_alias_group(entity)


def test_not_same_as_takes_the_subject_out_of_its_group(any_grouped):
    any_grouped.insert_claim(make_claim("n1", "cachectin", "not_same_as", "tnf"))
    assert any_grouped.get_alias_group("tnf") == {"tnf", "tnf-alpha"}
    assert any_grouped.get_alias_group("cachectin") == {"cachectin"}


@pytest.mark.parametrize("release", ["close", "checkpoint", "drop"])
def test_groups_persist_across_reopening_only_when_flushed(store_path, release):
    s = NativeStore(store_path)
    s.insert_claim(same_as("a1", "x", "y"))
    if release != "drop":
        getattr(s, release)()
    del s
    gc.collect()
    s = NativeStore(store_path)
    try:
        # Released without close() or checkpoint(), the in-memory groups were never written.
        assert s.get_alias_group("x") == ({"x"} if release == "drop" else {"x", "y"})
    finally:
        s.close()


# ---- purge and clear_aliases ------------------------------------------------------------------------------------


def test_purging_the_only_same_as_claim_splits_the_group(grouped):
    assert grouped.purge_source("uniprot") == 1
    assert grouped.get_alias_group("tnf") == {"tnf", "tnf-alpha"}
    assert grouped.get_alias_group("cachectin") == {"cachectin"}
    assert grouped.get_alias_group("il6") == {"il6", "interleukin-6"}


def test_purge_without_same_as_claims_leaves_groups_alone(grouped):
    grouped.insert_claim(make_claim("n1", "il6", "not_same_as", "interleukin-6", source_id="curation"))
    assert grouped.purge_source("pmid:1") == 1
    # No rebuild ran, so the not_same_as split still stands.
    assert grouped.get_alias_group("il6") == {"il6"}


def test_clear_aliases_replays_only_remaining_same_as_claims(grouped):
    grouped.insert_claim(make_claim("n1", "cachectin", "not_same_as", "tnf"))
    grouped.retract_claim("a3")
    assert grouped.get_alias_group("cachectin") == {"cachectin"}
    assert grouped.clear_aliases() is None
    # The not_same_as claim is not replayed; the retracted same_as claim is.
    assert grouped.get_alias_group("cachectin") == {"tnf", "tnf-alpha", "cachectin"}
    assert grouped.get_alias_group("il6") == {"il6", "interleukin-6"}


def test_clear_aliases_on_a_store_without_same_as_claims_empties_the_groups(store):
    store.insert_claim(same_as("a1", "x", "y", "s"))
    store.purge_source("s")
    assert store.clear_aliases() is None
    assert store.get_alias_group("x") == {"x"}


def test_rebuilt_groups_are_flushed_at_once(store_path):
    s = NativeStore(store_path)
    s.insert_claims_batch([same_as("a1", "x", "y", "keep"), same_as("a2", "y", "z", "drop")])
    s.close()
    s = NativeStore(store_path)
    s.purge_source("drop")
    del s  # no close(): the purge's rebuild already wrote the groups
    gc.collect()
    s = NativeStore(store_path)
    try:
        assert s.get_alias_group("y") == {"x", "y"}
        assert s.get_alias_group("z") == {"z"}
    finally:
        s.close()


# ---- access ------------------------------------------------------------------------------------------------


class CallingRow:
    """A bulk row whose first read calls back into the store."""

    def __init__(self, callback):
        self.callback = callback

    def __getitem__(self, i):
        self.callback()
        return "x"


@pytest.mark.parametrize("method, message", [
    ("resolve", "Already borrowed"),
    ("get_alias_group", "Already borrowed"),
    ("resolve_readonly", "Already mutably borrowed"),
    ("get_alias_group_readonly", "Already mutably borrowed"),
])
def test_alias_lookups_take_their_access_mode(store, method, message):
    # insert_bulk holds the instance exclusively while it reads rows.
    row = CallingRow(lambda: getattr(store, method)("x"))
    with pytest.raises(RuntimeError, match=f"^{message}$"):
        store.insert_bulk({}, [row], 0)
    assert store.resolve("x") == "x"  # access was released
