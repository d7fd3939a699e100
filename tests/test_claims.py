"""Claims end to end: inserting one at a time and in batches, and reading them back through
every claim lookup with the visibility rule, the tombstone overlay and the namespace filter."""
import gc

import pytest
import zorlet_native

from factory import Entity, Payload, Predicate, Provenance, make_claim, replace


def ids(claims):
    return [c["claim_id"] for c in claims]


def full_claim():
    """A claim with every field set to something other than its default."""
    return replace(
        make_claim("full", "tnf", "activates", "nfkb1", content_id="cnt-1", confidence=0.75, timestamp=-5,
                   namespace="bio", project="proj", chain=["c0", "c1"], expires_at=99,
                   payload=Payload("schema/v1", {"b": 1, "a": [True, None], "big": 2**64 - 1})),
        subject=Entity("tnf", "gene", "TNF", {"hgnc": "11892"}),
        object=Entity("nfkb1", "protein", None, {"uniprot": "P19838"}),
        predicate=Predicate("activates", "causal"),
        provenance=Provenance(source_type="paper", source_id="pmid:7", method="nlp", chain=["c0", "c1"],
                              model_version="m2", organization="org", project="proj", agent_id="agent",
                              source_version="v3", labels={"k": "v"}),
    )


FULL_DICT = {
    "claim_id": "full",
    "content_id": "cnt-1",
    "subject": {"id": "tnf", "entity_type": "gene", "display_name": "TNF", "external_ids": {"hgnc": "11892"}},
    "predicate": {"id": "activates", "predicate_type": "causal"},
    "object": {"id": "nfkb1", "entity_type": "protein", "display_name": "", "external_ids": {"uniprot": "P19838"}},
    "confidence": 0.75,
    "provenance": {"source_type": "paper", "source_id": "pmid:7", "method": "nlp", "chain": ["c0", "c1"],
                   "model_version": "m2", "organization": "org", "project": "proj", "agent_id": "agent",
                   "source_version": "v3", "labels": {"k": "v"}},
    "payload": {"schema_ref": "schema/v1", "data_json": '{"a":[true,null],"b":1,"big":18446744073709551615}'},
    "timestamp": -5,
    "status": "active",
    "namespace": "bio",
    "expires_at": 99,
}


def key_order(d):
    """Keys of a dict and of its nested dicts, in insertion order."""
    return [(k, key_order(v) if isinstance(v, dict) and k not in ("external_ids", "labels") else None)
            for k, v in d.items()]


# ---- Writing and reading back ----

def test_claim_round_trips_with_every_field_and_key_order(any_store):
    assert any_store.insert_claim(full_claim()) is True
    got = any_store.get_claim("full")
    assert got == FULL_DICT
    assert key_order(got) == key_order(FULL_DICT)
    assert "embedding" not in got
    # Each call builds fresh objects.
    again = any_store.get_claim("full")
    assert again == got and again["subject"] is not got["subject"]


def test_every_lookup_returns_the_same_claim_dict(any_store):
    any_store.insert_claim(full_claim())
    for found in (any_store.claims_for("tnf"), any_store.claims_by_source_id("pmid:7"),
                  any_store.claims_by_content_id("cnt-1"), any_store.claims_by_predicate_id("activates"),
                  any_store.claims_in_range(-5, -5), any_store.all_claims(), any_store.most_recent_claims(1)):
        assert found == [FULL_DICT]


def test_duplicate_claim_id_is_refused_and_keeps_the_first(any_store):
    assert any_store.insert_claim(make_claim("c1", confidence=0.1)) is True
    assert any_store.insert_claim(make_claim("c1", confidence=0.9)) is False
    assert any_store.count_claims() == 1
    assert any_store.get_claim("c1")["confidence"] == 0.1


def test_batch_keeps_first_of_repeated_ids_and_skips_stored_ones(any_store):
    any_store.insert_claim(make_claim("old", confidence=0.3))
    batch = [make_claim("x", confidence=0.1), make_claim("old", confidence=0.9), make_claim("x", confidence=0.2),
             make_claim("y"), make_claim("x", confidence=0.3)]
    assert any_store.insert_claims_batch(batch) == 2
    assert any_store.count_claims() == 3
    assert any_store.get_claim("x")["confidence"] == 0.1
    assert any_store.get_claim("old")["confidence"] == 0.3
    assert any_store.insert_claims_batch([]) == 0


def test_batch_converts_every_item_before_storing_any(any_store):
    broken = make_claim("c3")
    del_content = type("NoContent", (), {k: getattr(broken, k) for k in vars(broken) if k != "content_id"})()
    with pytest.raises(AttributeError):
        any_store.insert_claims_batch([make_claim("c1"), make_claim("c2"), del_content])
    assert any_store.count_claims() == 0


@pytest.mark.parametrize("claims", [(make_claim("c1"),), None, make_claim("c1")])
def test_batch_requires_a_list(any_store, claims):
    with pytest.raises(TypeError, match="^argument 'claims': "):
        any_store.insert_claims_batch(claims)


def test_missing_lookups_answer_empty(any_store):
    assert any_store.get_claim("nope") is None
    assert any_store.claim_exists("nope") is False
    assert any_store.get_claim_provenance_chain("nope") == []
    assert any_store.corroboration_count("nope") == 0
    assert any_store.claims_for("nobody") == []
    assert any_store.claims_by_source_id("") == []


def test_chain_corroboration_and_index_lookups(any_store):
    any_store.insert_claims_batch([
        make_claim("c1", "a", "causes", "b", content_id="same", source_id="s1", chain=["x", "y"]),
        make_claim("c2", "b", "causes", "c", content_id="same", source_id="s2"),
        make_claim("c3", "c", "binds", "d", content_id="other", source_id="s1"),
    ])
    assert any_store.get_claim_provenance_chain("c1") == ["x", "y"]
    assert any_store.corroboration_count("same") == 2
    assert ids(any_store.claims_by_content_id("same")) == ["c1", "c2"]
    assert ids(any_store.claims_by_source_id("s1")) == ["c1", "c3"]
    assert ids(any_store.claims_by_predicate_id("causes")) == ["c1", "c2"]
    assert any_store.claim_exists("c3") is True


# ---- claims_for: resolution, filters, limits ----

@pytest.fixture
def scored(any_store):
    any_store.insert_claims_batch([
        make_claim("hi", "a", "causes", "b", confidence=0.5, source_type="paper"),
        make_claim("lo", "a", "causes", "c", confidence=0.49, source_type="paper"),
        make_claim("db", "a", "binds", "d", confidence=0.9, source_type="database"),
        make_claim("obj", "e", "binds", "a", confidence=0.8, source_type="database"),
    ])
    return any_store


@pytest.mark.parametrize("kwargs, expected", [
    ({}, ["hi", "lo", "db", "obj"]),
    ({"predicate_type": None, "source_type": None}, ["hi", "lo", "db", "obj"]),
    ({"min_confidence": 0.5}, ["hi", "db", "obj"]),
    ({"min_confidence": 1}, []),
    ({"predicate_type": "causal"}, ["hi", "lo"]),
    ({"source_type": "database"}, ["db", "obj"]),
    ({"source_type": "database", "min_confidence": 0.85}, ["db"]),
    ({"limit": 1}, ["hi"]),
    ({"limit": 1, "min_confidence": 0.6}, ["db"]),
    ({"limit": 0}, ["hi", "lo", "db", "obj"]),
])
def test_claims_for_filters(scored, kwargs, expected):
    assert ids(scored.claims_for("a", **kwargs)) == expected


def test_nan_min_confidence_keeps_nothing_on_the_persistent_store(store):
    store.insert_claim(make_claim("c1", confidence=0.5))
    store.insert_claim(make_claim("c2", confidence=float("nan")))
    assert store.claims_for("a", min_confidence=float("nan")) == []
    assert ids(store.claims_for("a")) == ["c1"]


def test_claims_for_normalises_the_asked_id(any_store):
    any_store.insert_claim(make_claim("c1", "tnf-alpha", "causes", "il 6"))
    assert ids(any_store.claims_for("  TNF-\u03b1 ")) == ["c1"]
    assert ids(any_store.claims_for("IL\u00a06")) == ["c1"]
    # Writes do not normalise: a stored upper-case id cannot be found.
    any_store.insert_claim(make_claim("c2", "GENE:X", "causes", "y"))
    assert any_store.claims_for("GENE:X") == []


@pytest.mark.parametrize("kwargs, error", [
    ({"entity_id": 5}, TypeError),
    ({"entity_id": "a", "limit": -1}, OverflowError),
    ({"entity_id": "a", "min_confidence": "x"}, TypeError),
    ({"entity_id": "a", "predicate_type": b"causal"}, TypeError),
])
def test_claims_for_argument_errors(any_store, kwargs, error):
    with pytest.raises(error):
        any_store.claims_for(**kwargs)


def test_claims_across_an_alias_group_come_once_each(any_store):
    any_store.insert_claims_batch([
        make_claim("x1", "x", "causes", "p"),
        make_claim("link", "x", "binds", "y"),
        make_claim("y1", "q", "causes", "y"),
        make_claim("same", "x", "same_as", "y"),
    ])
    found = ids(any_store.claims_for("x"))
    assert sorted(found) == ["link", "same", "x1", "y1"]
    assert sorted(ids(any_store.claims_for("y"))) == sorted(found)
    # not_same_as splits the subject out again.
    any_store.insert_claim(make_claim("split", "y", "not_same_as", "x"))
    assert sorted(ids(any_store.claims_for("y"))) == ["link", "same", "split", "y1"]


# ---- Inverse derivation ----

def test_inverse_claims_are_derived_for_the_object(any_store):
    any_store.insert_claims_batch([
        make_claim("c1", "a", "activates", "b", confidence=0.7),
        make_claim("c2", "c", "binds", "b"),          # no inverse in the table
        make_claim("c3", "b", "causes", "d"),         # b is the subject: nothing to invert
    ])
    found = any_store.claims_for_with_inverse("b", None, None, 0.0, True)
    assert ids(found) == ["c1", "c2", "c3", "inv:c1"]
    derived, source = found[3], found[0]
    assert derived["subject"] == source["object"] and derived["object"] == source["subject"]
    assert derived["predicate"] == {"id": "activated_by", "predicate_type": source["predicate"]["predicate_type"]}
    assert derived["provenance"] == dict(source["provenance"], method="inverse_derived")
    for same in ("content_id", "confidence", "timestamp", "status", "namespace", "payload", "expires_at"):
        assert derived[same] == source[same]
    assert ids(any_store.claims_for_with_inverse("b", None, None, 0.0, False)) == ["c1", "c2", "c3"]
    assert any_store.get_claim("inv:c1") is None  # derived claims are never stored


def test_inverse_already_stored_is_not_derived_again(any_store):
    any_store.insert_claims_batch([make_claim("c1", "a", "inhibits", "b"), make_claim("c2", "b", "inhibited_by", "a"),
                                   make_claim("c3", "a", "causes", "b"), make_claim("c4", "a2", "causes", "b")])
    assert ids(any_store.claims_for_with_inverse("b", None, None, 0.0, True)) == ["c1", "c2", "c3", "c4", "inv:c3",
                                                                                   "inv:c4"]


def test_inverse_filters_apply_to_the_base_claims(any_store):
    any_store.insert_claims_batch([make_claim("lo", "a", "treats", "b", confidence=0.2),
                                   make_claim("hi", "c", "treats", "b", confidence=0.8)])
    assert ids(any_store.claims_for_with_inverse("b", None, None, 0.5, True)) == ["hi", "inv:hi"]


@pytest.mark.parametrize("args", [("b", None, None, 0.0), ("b", None, None, 0.0, 1), ("b", None, None, 0.0, None)])
def test_inverse_needs_all_five_arguments_and_a_real_bool(any_store, args):
    with pytest.raises(TypeError):
        any_store.claims_for_with_inverse(*args)


# ---- Scans: paging, recency, time ranges ----

@pytest.mark.parametrize("offset, limit, expected", [
    (0, 0, ["c0", "c1", "c2", "c3", "c4"]),
    (2, 3, ["c2", "c3", "c4"]),
    (2, 0, ["c2", "c3", "c4"]),
    (0, 2, ["c0", "c1"]),
    (4, 10, ["c4"]),
    (5, 0, []),
])
def test_all_claims_pages_in_insertion_order(any_store, offset, limit, expected):
    any_store.insert_claims_batch([make_claim(f"c{i}", timestamp=10 - i) for i in range(5)])
    assert ids(any_store.all_claims(offset=offset, limit=limit)) == expected


def test_all_claims_refuses_a_negative_limit(any_store):
    with pytest.raises(OverflowError):
        any_store.all_claims(limit=-1)


def test_most_recent_claims_are_the_last_inserted_newest_first(store):
    for cid, ts in (("t30", 30), ("t10", 10), ("t20", 20)):
        store.insert_claim(make_claim(cid, timestamp=ts))
    assert ids(store.most_recent_claims(2)) == ["t20", "t10"]
    assert ids(store.most_recent_claims(10)) == ["t30", "t20", "t10"]
    assert store.most_recent_claims(0) == []


@pytest.mark.parametrize("lo, hi, expected", [
    (5, 5, ["t5a", "t5b"]),
    (0, 100, ["t0", "t5a", "t5b", "t7"]),
    (6, 100, ["t7"]),
    (-10, -1, ["t-3"]),
    (-10, 6, ["t-3", "t0", "t5a", "t5b"]),  # a range across zero finds both signs, in time order
    (-2**63, 2**63 - 1, ["t-3", "t0", "t5a", "t5b", "t7"]),
    (7, 5, []),
    (5, -5, []),
])
def test_claims_in_range_is_inclusive_and_ordered_by_time(any_store, lo, hi, expected):
    any_store.insert_claims_batch([make_claim("t7", timestamp=7), make_claim("t5a", timestamp=5),
                                   make_claim("t-3", timestamp=-3), make_claim("t0", timestamp=0),
                                   make_claim("t5b", timestamp=5)])
    assert ids(any_store.claims_in_range(lo, hi)) == expected


def test_claims_in_range_refuses_timestamps_outside_64_bits(any_store):
    with pytest.raises(OverflowError):
        any_store.claims_in_range(0, 2**63)


# ---- Visibility: namespaces, retraction, overrides ----

@pytest.fixture
def spaced(any_store):
    any_store.insert_claims_batch([make_claim("none", timestamp=1), make_claim("in_a", namespace="a", timestamp=2),
                                   make_claim("in_b", namespace="b", timestamp=3)])
    return any_store


def scans(s):
    """What every scanning lookup sees, by lookup."""
    return {
        "claims_for": ids(s.claims_for("a")),
        "inverse": ids(s.claims_for_with_inverse("a", None, None, 0.0, True)),
        "source": ids(s.claims_by_source_id("pmid:1")),
        "content": ids(s.claims_by_content_id("cnt-a-relates_to-b")),
        "predicate": ids(s.claims_by_predicate_id("relates_to")),
        "range": ids(s.claims_in_range(0, 10)),
        "all": ids(s.all_claims()),
        "recent": sorted(ids(s.most_recent_claims(10))),
    }


@pytest.mark.parametrize("namespaces, visible", [
    ([], ["in_a", "in_b", "none"]),
    (["a"], ["in_a"]),
    (["b", "a"], ["in_a", "in_b"]),
    ([""], ["none"]),
    (["zzz"], []),
])
def test_namespace_filter_hides_claims_from_every_scan(spaced, namespaces, visible):
    spaced.set_namespace_filter(namespaces)
    assert spaced.get_namespace_filter() == namespaces
    for name, found in scans(spaced).items():
        assert sorted(found) == visible, name
    # get_claim, claim_exists and corroboration ignore the filter.
    assert spaced.get_claim("in_b")["namespace"] == "b"
    assert spaced.claim_exists("none") is True
    assert spaced.corroboration_count("cnt-a-relates_to-b") == 3


def test_namespace_filter_round_trips_duplicates_and_refuses_a_str(any_store):
    any_store.set_namespace_filter(("x", "x", "y"))
    assert any_store.get_namespace_filter() == ["x", "x", "y"]
    with pytest.raises(TypeError, match="argument 'namespaces': Can't extract `str` to `Vec`"):
        any_store.set_namespace_filter("x")
    assert any_store.get_namespace_filter() == ["x", "x", "y"]


def test_retracted_claims_hide_until_asked_for_and_then_show_tombstoned(spaced):
    assert spaced.retract_claim("in_a") is True
    assert spaced.get_claim("in_a")["status"] == "tombstoned"
    for name, found in scans(spaced).items():
        assert sorted(found) == ["in_b", "none"], name
    spaced.set_include_retracted(True)
    assert sorted(scans(spaced)["all"]) == ["in_a", "in_b", "none"]
    shown = {c["claim_id"]: c["status"] for c in spaced.claims_for("a")}
    assert shown == {"none": "active", "in_a": "tombstoned", "in_b": "active"}
    assert spaced.claim_exists("in_a") is True


def test_persistent_corroboration_counts_retracted_claims(store):
    store.insert_claims_batch([make_claim("c1", content_id="x"), make_claim("c2", content_id="x")])
    store.retract_claim("c1")
    assert store.corroboration_count("x") == 2


def test_status_overrides_show_only_in_get_claim(store):
    store.insert_claim(make_claim("c1"))
    store.update_claim_status("c1", "archived")
    assert store.get_claim("c1")["status"] == "archived"
    assert [c["status"] for c in store.claims_for("a")] == ["active"]
    assert [c["status"] for c in store.all_claims()] == ["active"]


def test_view_settings_refuse_non_bools(any_store):
    for setter in (any_store.set_include_retracted, any_store.set_bulk_load_mode):
        with pytest.raises(TypeError):
            setter(1)


# ---- Refusals at LMDB's key limits ----

LONG = "x" * 512


@pytest.mark.parametrize("field, change", [
    ("claim_id", {"claim_id": ""}),
    ("claim_id", {"claim_id": LONG}),
    ("claim_id", {"claim_id": "\u00e9" * 256}),
    ("content_id", {"content_id": ""}),
    ("subject", {"subject": Entity("")}),
    ("object", {"object": Entity("")}),
    ("source_id", {"provenance": Provenance(source_id=LONG)}),
    ("predicate", {"predicate": Predicate("")}),
    ("namespace", {"namespace": LONG}),
    ("project", {"provenance": Provenance(project=LONG)}),
    ("predicate_type", {"predicate": Predicate("p", LONG)}),
    ("subject counter key", {"subject": Entity("s" * 500), "predicate": Predicate("p" * 11), "content_id": "cnt"}),
])
def test_claims_lmdb_cannot_key_are_refused_without_leftovers(store, field, change):
    bad = replace(make_claim("bad", "s", "causes", "o", source_id="src"), **change)
    assert store.insert_claim(bad) is False
    assert store.count_claims() == 0
    assert store.claims_for("s") == [] and store.claims_by_source_id("src") == []
    assert store.insert_claim(make_claim("fine", "s", "causes", "o", source_id="src")) is True
    assert ids(store.claims_for("s")) == ["fine"]


def test_batch_reports_a_refused_claim_and_stores_the_rest(store, capfd):
    batch = [make_claim("c1"), make_claim(""), make_claim("c2", source_id=LONG), make_claim("c3")]
    assert store.insert_claims_batch(batch) == 2
    err = capfd.readouterr().err.splitlines()
    assert len(err) == 2
    assert err[0].startswith("[zorlet-store] write_claim failed: ProvenanceError: put claim_id_idx: MDB_BAD_VALSIZE")
    assert err[1].startswith("[zorlet-store] write_claim failed: ProvenanceError: put source_idx: MDB_BAD_VALSIZE")
    assert ids(store.all_claims()) == ["c1", "c3"]


def test_bulk_mode_skips_the_counter_key_limit(store):
    bad_counter = make_claim("c1", "s" * 500, "p" * 11, "o", content_id="cnt")
    assert store.insert_claim(bad_counter) is False
    store.set_bulk_load_mode(True)
    assert store.insert_claim(bad_counter) is True
    store.set_bulk_load_mode(False)
    assert store.get_claim("c1")["subject"]["id"] == "s" * 500


def test_long_object_is_stored_but_not_indexed_by_object(store):
    assert store.insert_claim(make_claim("c1", "s", "causes", "o" * 600, content_id="cnt")) is True
    assert ids(store.claims_for("s")) == ["c1"]
    assert store.claims_for("o" * 600) == []


# ---- Persistence, numbering and several writers ----

def test_store_released_without_close_keeps_everything_and_numbering(store_path):
    s = zorlet_native.NativeStore(store_path)
    s.insert_claims_batch([make_claim(f"c{i}", timestamp=i) for i in range(5)])
    s.insert_claim(make_claim("c5", timestamp=5))
    del s
    gc.collect()

    s = zorlet_native.NativeStore(store_path)
    assert s.count_claims() == 6
    assert s.insert_claim(make_claim("after", timestamp=6)) is True
    assert s.insert_claims_batch([make_claim("after2", timestamp=7)]) == 1
    # Insertion order survives: new claims come after every old one.
    assert ids(s.all_claims()) == [f"c{i}" for i in range(6)] + ["after", "after2"]
    assert ids(s.most_recent_claims(2)) == ["after2", "after"]
    s.close()


def test_aliases_reach_the_next_open_through_close(store_path):
    s = zorlet_native.NativeStore(store_path)
    s.insert_claims_batch([make_claim("c1", "x", "same_as", "y"), make_claim("c2", "y", "binds", "z")])
    s.close()
    s = zorlet_native.NativeStore(store_path)
    assert sorted(ids(s.claims_for("x"))) == ["c1", "c2"]
    s.close()


def test_two_instances_on_one_directory_never_overwrite_each_other(store_path):
    first = zorlet_native.NativeStore(store_path)
    second = zorlet_native.NativeStore(store_path)
    assert first.insert_claim(make_claim("f1", confidence=0.1)) is True
    assert second.insert_claim(make_claim("s1", confidence=0.2)) is True
    assert first.insert_claims_batch([make_claim("f2", confidence=0.3), make_claim("f3", confidence=0.4)]) == 2
    assert second.insert_claims_batch([make_claim("s2", confidence=0.5)]) == 1
    assert first.insert_claim(make_claim("f4", confidence=0.6)) is True
    expected = {"f1": 0.1, "s1": 0.2, "f2": 0.3, "f3": 0.4, "s2": 0.5, "f4": 0.6}
    for s in (first, second):
        assert s.count_claims() == 6
        assert {c["claim_id"]: c["confidence"] for c in s.all_claims()} == expected
        assert ids(s.all_claims()) == list(expected)
    first.close()
    second.close()
    reopened = zorlet_native.NativeStore(store_path)
    assert reopened.insert_claim(make_claim("later")) is True
    assert ids(reopened.all_claims())[-1] == "later" and reopened.count_claims() == 7
    reopened.close()


def test_read_only_store_stores_nothing(store_path):
    zorlet_native.NativeStore(store_path).close()
    ro = zorlet_native.NativeStore.open_read_only(store_path)
    assert ro.insert_claim(make_claim("c1")) is False
    assert ro.insert_claims_batch([make_claim("c2")]) == 0
    assert ro.count_claims() == 0
    ro.close()


FAULT = "LMDB environment already closed \u2014 check for double-close or use-after-close bugs"


@pytest.mark.parametrize("call", [
    lambda s: s.insert_claim(make_claim("c1")),
    lambda s: s.insert_claims_batch([make_claim("c1")]),
    lambda s: s.get_claim("c1"),
    lambda s: s.claim_exists("c1"),
    lambda s: s.all_claims(),
    lambda s: s.most_recent_claims(0),
    lambda s: s.claims_for("a"),
    lambda s: s.claims_for_with_inverse("a", None, None, 0.0, True),
    lambda s: s.claims_by_source_id("s"),
    lambda s: s.claims_in_range(0, 1),
    lambda s: s.get_claim_provenance_chain("c1"),
    lambda s: s.corroboration_count("c"),
])
def test_lookups_on_a_closed_store_fault(store, call):
    store.close()
    with pytest.raises(BaseException) as info:
        call(store)
    assert not isinstance(info.value, Exception)
    assert str(info.value) == FAULT
