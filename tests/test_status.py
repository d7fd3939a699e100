"""Status changes by name, retraction of claims and sources, batch updates and purges."""
import pytest

from factory import make_claim
from zorlet_native import NativeStore

READ_ONLY = "^ReadOnlyError: store is read-only$"


def claim_ids(claims):
    return [c["claim_id"] for c in claims]


@pytest.fixture
def three(store):
    """c1, c2 from source s1 and c3 from s2, all about entity a."""
    return _three(store)


@pytest.fixture
def any_three(any_store):
    return _three(any_store)


def _three(store):
    store.insert_claims_batch([
        make_claim("c1", "a", "relates_to", "b", source_id="s1", timestamp=1),
        make_claim("c2", "a", "binds", "c", source_id="s1", timestamp=2),
        make_claim("c3", "a", "inhibits", "d", source_id="s2", timestamp=3),
    ])
    return store


@pytest.fixture
def read_only(tmp_path):
    path = str(tmp_path / "ro")
    s = NativeStore(path)
    s.insert_claim(make_claim("c1", source_id="s1"))
    s.close()
    ro = NativeStore.open_read_only(path)
    yield ro
    ro.close()


# ---- single status changes ----------------------------------------------------------------------------------


@pytest.mark.parametrize("name, status", [
    ("active", "active"),
    ("ARCHIVED", "archived"),
    ("Tombstoned", "tombstoned"),
    ("RETRACTED", "tombstoned"),
    ("provenance_degraded", "provenance_degraded"),
    ("Degraded", "provenance_degraded"),
    ("verified", "verified"),
    ("Verification_Failed", "verification_failed"),
    ("failed", "verification_failed"),
    ("DISPUTED", "disputed"),
])
def test_status_names_are_accepted_in_any_case(any_three, name, status):
    assert any_three.update_claim_status("c1", name) is True
    assert any_three.get_claim("c1")["status"] == status


@pytest.mark.parametrize("name", ["tomb", "", " active", "active ", "activ", "ACTİVE"])
def test_unknown_status_names_are_a_validation_error_with_the_callers_text(any_three, name):
    with pytest.raises(RuntimeError) as info:
        any_three.update_claim_status("c1", name)
    assert str(info.value) == "ValidationError: Unknown claim status: " + name
    assert any_three.get_claim("c1")["status"] == "active"


def test_status_change_of_an_unknown_claim_is_false(any_three):
    assert any_three.update_claim_status("nope", "archived") is False
    assert any_three.retract_claim("nope") is False
    assert any_three.get_claim("nope") is None


def test_retraction_hides_a_claim_until_it_is_made_active_again(three):
    assert three.retract_claim("c1") is True
    assert three.retract_claim("c1") is True  # already tombstoned: still found
    assert claim_ids(three.claims_for("a")) == ["c2", "c3"]
    assert claim_ids(three.claims_by_source_id("s1")) == ["c2"]
    assert three.get_claim("c1")["status"] == "tombstoned"
    assert three.claim_exists("c1")
    assert three.update_claim_status("c1", "active") is True
    assert claim_ids(three.claims_for("a")) == ["c1", "c2", "c3"]


def test_other_statuses_show_only_through_get_claim(three):
    three.update_claim_status("c1", "archived")
    assert three.get_claim("c1")["status"] == "archived"
    assert {c["claim_id"]: c["status"] for c in three.claims_for("a")}["c1"] == "active"


def test_statuses_and_retractions_survive_reopening(store_path):
    s = NativeStore(store_path)
    s.insert_claims_batch([make_claim("c1"), make_claim("c2"), make_claim("c3")])
    s.retract_claim("c1")
    s.update_claim_status("c2", "disputed")
    s.retract_claim("c3")
    s.update_claim_status("c3", "active")
    del s  # released without close(): the changes were committed already
    s = NativeStore(store_path)
    try:
        assert claim_ids(s.claims_for("a")) == ["c2", "c3"]
        assert [s.get_claim(c)["status"] for c in ("c1", "c2", "c3")] == ["tombstoned", "disputed", "active"]
    finally:
        s.close()


# ---- batch status changes -----------------------------------------------------------------------------------


def test_batch_counts_only_stored_claims(three):
    assert three.update_claim_status_batch([("c1", "Retracted"), ("nope", "active"), ("c3", "archived")]) == 2
    assert claim_ids(three.claims_for("a")) == ["c2", "c3"]
    assert three.get_claim("c3")["status"] == "archived"


def test_batch_applies_repeated_ids_in_order(three):
    assert three.update_claim_status_batch([("c1", "tombstoned"), ("c1", "active"),
                                            ("c2", "active"), ("c2", "retracted")]) == 4
    assert claim_ids(three.claims_for("a")) == ["c1", "c3"]
    assert three.get_claim("c1")["status"] == "active"


def test_batch_accepts_any_sequence_of_pairs(three):
    assert three.update_claim_status_batch((("c1", "degraded"),)) == 1
    assert three.update_claim_status_batch([]) == 0
    assert three.get_claim("c1")["status"] == "provenance_degraded"


@pytest.mark.parametrize("updates, error, message", [
    ([("c2", "active"), ("c1", "verified")], ValueError, "^Unknown claim status: verified$"),
    ([("c1", "DISPUTED")], ValueError, "^Unknown claim status: disputed$"),
    ([("c1", "Failed")], ValueError, "^Unknown claim status: failed$"),
    ([("c1", " active")], ValueError, "^Unknown claim status:  active$"),
    ([("c1", "active", "x")], ValueError, "^expected tuple of length 2, but got tuple of length 3$"),
    ([("c1",)], ValueError, "^expected tuple of length 2, but got tuple of length 1$"),
    ("c1", TypeError, "^argument 'updates': "),
    (5, TypeError, "^argument 'updates': "),
    ([["c1", "active"]], TypeError, "^argument 'updates': "),
    ([("c1", 2)], TypeError, "^argument 'updates': "),
    ([(1, "active")], TypeError, "^argument 'updates': "),
])
def test_batch_refuses_bad_input_before_changing_anything(any_three, updates, error, message):
    any_three.retract_claim("c2")
    with pytest.raises(error, match=message):
        any_three.update_claim_status_batch(updates)
    assert any_three.get_claim("c1")["status"] == "active"
    assert any_three.get_claim("c2")["status"] == "tombstoned"


# ---- retract_source ------------------------------------------------------------------------------------------


def test_retract_source_returns_the_ids_it_tombstoned_in_lookup_order(any_three):
    any_three.insert_claim(make_claim("c4", "a", "activates", "e", source_id="s1", timestamp=4))
    any_three.retract_claim("c2")
    assert any_three.retract_source("s1") == ["c1", "c4"]
    assert [any_three.get_claim(c)["status"] for c in ("c1", "c2", "c4")] == ["tombstoned"] * 3
    assert claim_ids(any_three.claims_for("a")) == ["c3"]
    assert any_three.retract_source("s1") == []


@pytest.mark.parametrize("include_before", [False, True])
def test_retract_source_always_leaves_include_retracted_off(any_three, include_before):
    any_three.set_include_retracted(include_before)
    assert any_three.retract_source("no-such-source") == []
    # With the flag off, the earlier retraction of c1 hides it.
    any_three.retract_claim("c1")
    assert claim_ids(any_three.claims_for("a")) == ["c2", "c3"]
    any_three.set_include_retracted(include_before)
    assert any_three.retract_source("s1") == ["c2"]
    assert claim_ids(any_three.claims_for("a")) == ["c3"]


def test_retract_source_sees_only_the_filtered_namespaces(store):
    store.insert_claims_batch([make_claim("n1", namespace="x", source_id="s"),
                               make_claim("n2", namespace="y", source_id="s")])
    store.set_namespace_filter(["x"])
    assert store.retract_source("s") == ["n1"]
    store.set_namespace_filter([])
    assert claim_ids(store.claims_by_source_id("s")) == ["n2"]


def test_claims_inserted_as_tombstoned_are_not_retracted_again(store):
    store.insert_claims_batch([make_claim("t1", source_id="s", status="tombstoned"),
                               make_claim("t2", source_id="s")])
    assert store.retract_source("s") == ["t2"]


def test_in_memory_purge_and_alias_reset_do_nothing(mem_store):
    assert mem_store.purge_source("s1") == 0
    assert mem_store.clear_aliases() is None


# ---- read-only stores --------------------------------------------------------------------------------------


@pytest.mark.parametrize("call", [
    lambda s: s.update_claim_status("c1", "not-a-status"),
    lambda s: s.update_claim_status("c1", "active"),
    lambda s: s.retract_claim("c1"),
    lambda s: s.retract_source("s1"),
    lambda s: s.update_claim_status_batch([]),
    lambda s: s.update_claim_status_batch([("c1", "retracted")]),
    lambda s: s.purge_source("s1"),
    lambda s: s.clear_aliases(),
], ids=["bad-name", "status", "retract", "retract-source", "empty-batch", "batch", "purge", "clear-aliases"])
def test_read_only_store_refuses_status_writes(read_only, call):
    with pytest.raises(RuntimeError, match=READ_ONLY):
        call(read_only)
    assert read_only.get_claim("c1")["status"] == "active"
    assert read_only.claim_exists("c1")


def test_batch_checks_names_before_the_read_only_rule(read_only):
    with pytest.raises(ValueError, match="^Unknown claim status: verified$"):
        read_only.update_claim_status_batch([("c1", "verified")])


# ---- purge -------------------------------------------------------------------------------------------------


def test_purge_removes_exactly_one_source(three):
    three.retract_claim("c3")
    assert three.purge_source("s1") == 2
    assert three.purge_source("s1") == 0
    for gone in ("c1", "c2"):
        assert three.get_claim(gone) is None
        assert not three.claim_exists(gone)
    three.set_include_retracted(True)
    assert claim_ids(three.claims_for("a")) == ["c3"]
    assert claim_ids(three.all_claims()) == ["c3"]
    assert three.claims_by_source_id("s1") == []
    assert three.count_claims() == 1


def test_purge_of_an_unknown_source_is_zero(three):
    assert three.purge_source("nobody") == 0
    assert three.purge_source("") == 0
    assert three.count_claims() == 3


def test_lookups_skip_index_entries_a_purge_leaves_behind(three):
    three.insert_claim(make_claim("c4", "b", "relates_to", "a", source_id="s2", content_id="shared", timestamp=2))
    three.purge_source("s1")
    assert claim_ids(three.claims_in_range(0, 10)) == ["c4", "c3"]
    assert claim_ids(three.claims_by_predicate_id("relates_to")) == ["c4"]
    assert claim_ids(three.most_recent_claims(10)) == ["c3", "c4"]
    assert claim_ids(three.claims_for("b")) == ["c4"]


def test_a_purged_claim_id_can_be_inserted_again_and_keeps_its_status_override(three):
    three.retract_claim("c1")
    three.purge_source("s1")
    assert three.insert_claim(make_claim("c1", "a", "relates_to", "z", source_id="s3")) is True
    assert three.get_claim("c1")["object"]["id"] == "z"
    assert three.get_claim("c1")["status"] == "tombstoned"
    assert three.retract_source("s3") == []  # it is tombstoned already
    assert three.update_claim_status("c1", "active") is True
    assert claim_ids(three.claims_by_source_id("s3")) == ["c1"]
    assert three.purge_source("s1") == 0  # the old entries under s1 lead nowhere now


def test_purge_works_through_more_than_one_chunk(store):
    rows = [("a", f"b{i}", f"c{i}", f"k{i}", "relates_to", "relation", 0.5, "paper",
             "big" if i % 10 else "small", None, None, None, None, None, i, None) for i in range(11000)]
    assert store.insert_bulk({}, rows, 0) == 11000
    assert store.purge_source("big") == 9900
    assert store.count_claims() == 1100
    assert claim_ids(store.claims_by_source_id("small"))[:3] == ["c0", "c10", "c20"]
    assert store.purge_source("big") == 0


def test_purge_survives_reopening(store_path):
    s = NativeStore(store_path)
    s.insert_claims_batch([make_claim("c1", source_id="s1"), make_claim("c2", source_id="s2")])
    assert s.purge_source("s1") == 1
    s.close()
    s = NativeStore(store_path)
    try:
        assert claim_ids(s.all_claims()) == ["c2"]
        assert s.insert_claim(make_claim("c1", source_id="s1")) is True
        assert claim_ids(s.all_claims()) == ["c2", "c1"]
    finally:
        s.close()


def test_status_writes_after_close_raise_the_internal_fault(three):
    three.close()
    for call in (lambda: three.retract_claim("c1"), lambda: three.purge_source("s1"),
                 lambda: three.update_claim_status_batch([("c1", "active")]), lambda: three.retract_source("s1")):
        with pytest.raises(BaseException, match="LMDB environment already closed") as info:
            call()
        assert not isinstance(info.value, Exception)
