"""Hostile Python input: random objects thrown at every method's parameters, at claim objects
and at bulk rows. Only the documented exception types come back, never a crash, and a refused
call leaves the store as it was."""
import inspect
import math

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from factory import Entity, Payload, make_claim, replace
from zorlet_native import NativeStore

ALLOWED = (TypeError, OverflowError, ValueError, AttributeError, IndexError, UnicodeEncodeError, RuntimeError)
# Methods that close the store, touch paths outside it, or take long: exercised elsewhere.
SKIP = {"close", "__exit__", "__enter__", "merge_from", "compact", "in_memory", "open_read_only",
        "purge_source", "clear_aliases", "rebuild_counters", "rebuild_causal_adj", "backfill_pred_id_counts",
        "backfill_claim_summaries", "backfill_analytics_counters", "checkpoint", "reader_check"}

texts = st.one_of(
    st.text(max_size=20),
    st.sampled_from(["", "\x00", "a\x00b", "\ud800", "x" * 600, "TNF-\u03b1", "\u0130", "e1", "same_as"]),
)
scalars = st.one_of(
    st.none(), st.booleans(), st.integers(min_value=-(2 ** 70), max_value=2 ** 70),
    st.floats(allow_nan=True, allow_infinity=True), texts, st.binary(max_size=8),
)
objects = st.recursive(scalars, lambda inner: st.one_of(
    st.lists(inner, max_size=4), st.tuples(inner, inner), st.dictionaries(texts, inner, max_size=3)), max_leaves=8)

METHODS = sorted(n for n, v in vars(NativeStore).items()
                 if callable(v) and not n.startswith("__") and n not in SKIP) + ["__enter__"]


def fingerprint(store):
    return (store.count_claims(), store.count_entities(), sorted(store.predicate_counts().items()),
            store.get_namespace_filter())


@pytest.fixture(scope="module", params=["lmdb", "memory"])
def seeded(request, tmp_path_factory):
    s = (NativeStore(str(tmp_path_factory.mktemp("h") / "s")) if request.param == "lmdb"
         else NativeStore.in_memory())
    s.insert_claims_batch([make_claim(f"c{i}", f"e{i % 5}", "activates", f"e{(i + 1) % 5}") for i in range(20)])
    s.upsert_entity("e1", "gene", "Entity one")
    yield s
    s.close()


@pytest.mark.parametrize("name", METHODS)
@settings(max_examples=60, deadline=None, suppress_health_check=list(HealthCheck))
@given(data=st.data())
def test_random_arguments(seeded, name, data):
    method = getattr(seeded, name)
    try:
        params = list(inspect.signature(method).parameters)
    except (TypeError, ValueError):
        params = []
    args = data.draw(st.lists(objects, min_size=0, max_size=len(params) + 1))
    before = fingerprint(seeded)
    try:
        method(*args)
    except ALLOWED:
        assert fingerprint(seeded) == before
    finally:
        # Settings changed by a successful call are reset for the next example.
        seeded.set_namespace_filter([])
        seeded.set_include_retracted(False)
        seeded.set_bulk_load_mode(False)


@settings(max_examples=150, deadline=None, suppress_health_check=list(HealthCheck))
@given(field=st.sampled_from(["claim_id", "content_id", "confidence", "timestamp", "subject", "predicate",
                              "object", "provenance", "payload", "status", "namespace", "expires_at"]),
       value=objects)
def test_random_claim_fields(seeded, field, value):
    claim = replace(make_claim("hostile", "e1", "causes", "e2"), **{field: value})
    before = seeded.count_claims()
    try:
        stored = seeded.insert_claim(claim)
    except ALLOWED:
        assert seeded.count_claims() == before
        return
    assert seeded.count_claims() == before + (1 if stored else 0)
    if stored:
        assert seeded.get_claim(claim.claim_id) is not None


@pytest.mark.parametrize("claim_id", ["", "x" * 511, "x" * 512, "a\x00b", "\u00e9" * 300])
def test_extreme_ids_are_stored_or_refused_cleanly(claim_id):
    s = NativeStore.in_memory()
    ok = s.insert_claim(make_claim(claim_id, "s", "causes", "o"))
    assert ok is True
    assert s.get_claim(claim_id)["claim_id"] == claim_id


@pytest.mark.parametrize("claim_id", ["", "x" * 512, "\u00e9" * 300])
def test_ids_lmdb_cannot_key_are_refused_without_leftovers(tmp_path, claim_id):
    s = NativeStore(str(tmp_path / "s"))
    assert s.insert_claim(make_claim(claim_id, "s", "causes", "o", source_id="only")) is False
    assert s.count_claims() == 0
    assert s.claims_by_source_id("only") == []
    assert s.claims_for("s") == []
    assert s.insert_claim(make_claim("fine", "s", "causes", "o", source_id="only")) is True
    assert [c["claim_id"] for c in s.claims_for("s")] == ["fine"]
    s.close()


def test_lone_surrogate_id_raises_cleanly(tmp_path):
    s = NativeStore(str(tmp_path / "s"))
    with pytest.raises(UnicodeEncodeError):
        s.insert_claim(make_claim("\ud800", "s", "causes", "o"))
    with pytest.raises(UnicodeEncodeError):
        s.get_claim("\ud800")
    assert s.count_claims() == 0
    s.close()


def test_multi_megabyte_payload_round_trips(tmp_path):
    s = NativeStore(str(tmp_path / "s"))
    data = {"blob": "x" * (4 << 20), "values": list(range(10000))}
    assert s.insert_claim(make_claim("big", "s", "causes", "o", payload=Payload("schema:1", data))) is True
    got = s.get_claim("big")
    import json
    assert json.loads(got["payload"]["data_json"]) == data
    s.close()


@settings(max_examples=150, deadline=None, suppress_health_check=list(HealthCheck))
@given(rows=st.lists(st.lists(objects, min_size=0, max_size=17), max_size=3), entities=objects)
def test_random_bulk_input(seeded, rows, entities):
    before = fingerprint(seeded)
    try:
        seeded.insert_bulk(entities, rows, 0)
    except ALLOWED:
        assert fingerprint(seeded) == before
