"""Where the in-memory store answers differently from the persistent one, and its fixed answers."""
import math

import pytest

from factory import make_claim
from zorlet_native import NativeStore


def ids(claims):
    return [c["claim_id"] for c in claims]


def loaded(*claims):
    s = NativeStore.in_memory()
    assert s.insert_claims_batch(list(claims)) == len(claims)
    return s


# ---- Status overlay: every override shows, in scans too ----

LOOKUPS = {
    "get_claim": lambda s: [s.get_claim("x")],
    "all_claims": lambda s: s.all_claims(),
    "most_recent_claims": lambda s: s.most_recent_claims(5),
    "claims_for": lambda s: s.claims_for("a"),
    "claims_for_with_inverse": lambda s: s.claims_for_with_inverse("a", None, None, 0.0, True),
    "claims_by_source_id": lambda s: s.claims_by_source_id("pmid:1"),
    "claims_by_content_id": lambda s: s.claims_by_content_id("cx"),
    "claims_by_predicate_id": lambda s: s.claims_by_predicate_id("binds"),
    "claims_in_range": lambda s: s.claims_in_range(0, 10_000),
    "bfs_claims": lambda s: [c for c, _depth in s.bfs_claims("a", 1)],
}


@pytest.mark.parametrize("lookup", LOOKUPS.values(), ids=LOOKUPS.keys())
@pytest.mark.parametrize("status_text, shown", [("archived", "archived"), ("Degraded", "provenance_degraded"),
                                                ("disputed", "disputed"), ("active", "active")])
def test_every_lookup_shows_the_overridden_status(lookup, status_text, shown):
    s = loaded(make_claim("x", "a", "binds", "b", content_id="cx"),
               make_claim("y", "c", "binds", "d", content_id="cy"))
    assert s.update_claim_status("x", status_text) is True
    got = {c["claim_id"]: c["status"] for c in lookup(s)}
    assert got["x"] == shown
    assert got.get("y", "active") == "active"


def test_stored_status_shows_until_overridden_and_tombstone_overlay_with_include_retracted(mem_store):
    mem_store.insert_claim(make_claim("x", "a", "binds", "b", status="verified"))
    assert mem_store.all_claims()[0]["status"] == "verified"
    assert mem_store.retract_claim("x") is True
    assert mem_store.get_claim("x")["status"] == "tombstoned"
    assert mem_store.claims_for("a") == []
    mem_store.set_include_retracted(True)
    assert [c["status"] for c in mem_store.claims_for("a")] == ["tombstoned"]
    assert mem_store.update_claim_status("x", "active") is True
    mem_store.set_include_retracted(False)
    assert [c["status"] for c in mem_store.all_claims()] == ["active"]


# ---- most_recent_claims: greatest timestamps, over-fetching by the retracted count ----

@pytest.mark.parametrize("timestamps, n, expected", [
    ([30, 10, 20], 2, [30, 20]),
    ([5, 9, 9], 2, [9, 9]),
    ([-5, 3, -1], 3, [3, -1, -5]),
    ([1, 2], 0, []),
    ([1, 2], 10, [2, 1]),
])
def test_most_recent_takes_greatest_timestamps_not_latest_inserted(timestamps, n, expected):
    s = loaded(*[make_claim(f"c{i}", timestamp=t) for i, t in enumerate(timestamps)])
    assert [c["timestamp"] for c in s.most_recent_claims(n)] == expected


def test_most_recent_equal_timestamps_come_later_inserted_first():
    s = loaded(make_claim("first", timestamp=9), make_claim("second", timestamp=9), make_claim("old", timestamp=1))
    assert ids(s.most_recent_claims(2)) == ["second", "first"]


def test_most_recent_over_fetch_covers_retractions():
    s = loaded(*[make_claim(f"c{t}", timestamp=t) for t in (50, 40, 30, 20, 10)])
    s.retract_claim("c50")
    s.retract_claim("c30")
    assert ids(s.most_recent_claims(3)) == ["c40", "c20", "c10"]


def test_most_recent_over_fetch_does_not_cover_the_namespace_filter():
    s = loaded(make_claim("hidden", timestamp=30, namespace="a"),
               make_claim("shown", timestamp=10, namespace="b"))
    s.set_namespace_filter(["b"])
    # Only retractions widen the fetch, so the hidden newest claim uses up n.
    assert s.most_recent_claims(1) == []
    assert ids(s.most_recent_claims(2)) == ["shown"]


# ---- claims_for: the confidence test keeps NaN ----

@pytest.mark.parametrize("confidence, min_confidence, kept", [
    (0.5, 0.5, True),
    (0.49, 0.5, False),
    (math.nan, 0.5, True),
    (0.1, math.nan, True),
    (-1.0, 0, False),
])
def test_claims_for_minimum_confidence(confidence, min_confidence, kept):
    s = loaded(make_claim("x", "a", "binds", "b", confidence=confidence))
    assert ids(s.claims_for("a", min_confidence=min_confidence)) == (["x"] if kept else [])


# ---- Corroboration: single changes move the count, the batch form does not ----

CORROBORATION_STEPS = {
    "retract_one": ([("retract_claim", "x")], 1),
    "retract_twice": ([("retract_claim", "x"), ("retract_claim", "x")], 1),
    "retract_then_reactivate": ([("retract_claim", "x"), ("status", "x", "active")], 2),
    "retract_then_archive": ([("retract_claim", "x"), ("status", "x", "archived")], 2),
    "status_retracted_name": ([("status", "y", "RETRACTED")], 1),
    "retract_both": ([("retract_claim", "x"), ("retract_claim", "y")], 0),
    "retract_source": ([("retract_source", "src")], 2),
    # The mend: a claim tombstoned by the batch form never lowered the count,
    # so reactivating it must not raise it past the claims that exist.
    "retract_source_then_reactivate": ([("retract_source", "src"), ("status", "x", "active")], 2),
    "retract_source_then_reactivate_both": ([("retract_source", "src"), ("status", "x", "active"),
                                             ("status", "y", "verified")], 2),
    "single_then_source_then_reactivate": ([("retract_claim", "x"), ("retract_source", "src"),
                                            ("status", "x", "active"), ("status", "y", "active")], 2),
    "source_then_single_retract_is_no_change": ([("retract_source", "src"), ("retract_claim", "x")], 2),
    "unknown_claim": ([("retract_claim", "nope"), ("status", "nope", "active")], 2),
}


@pytest.mark.parametrize("steps, expected", CORROBORATION_STEPS.values(), ids=CORROBORATION_STEPS.keys())
def test_corroboration_count(steps, expected):
    s = loaded(make_claim("x", "a", "binds", "b", content_id="c", source_id="src"),
               make_claim("y", "d", "binds", "e", content_id="c", source_id="src"),
               make_claim("z", "d", "binds", "e", content_id="other", source_id="src2"))
    for op, *args in steps:
        if op == "retract_claim":
            s.retract_claim(*args)
        elif op == "retract_source":
            s.retract_source(*args)
        else:
            s.update_claim_status(*args)
    assert s.corroboration_count("c") == expected
    assert s.corroboration_count("other") == 1


def test_corroboration_ignores_view_settings_and_duplicates():
    s = loaded(make_claim("x", content_id="c", namespace="n1"), make_claim("y", content_id="c", namespace="n2"))
    assert s.insert_claim(make_claim("x", content_id="c")) is False
    s.set_namespace_filter(["n1"])
    assert s.corroboration_count("c") == 2
    assert s.corroboration_count("missing") == 0


# ---- Graph: causal edges, closure, neighbours ----

def test_outgoing_causal_edges_normalise_the_id_and_carry_own_confidences():
    s = loaded(make_claim("k", "tp53", "causes", "mdm2", confidence=0.9),
               make_claim("r", "mdm2", "causes", "tp53", confidence=0.3))
    for asked in ("tp53", "TP53", "Tp53"):
        assert s.outgoing_causal_edges(asked, ["causes"]) == [("mdm2", "causes", 0.9)]
    assert s.outgoing_causal_edges("tp53", []) == []
    assert s.outgoing_causal_edges("tp53", ["inhibits"]) == []


def test_outgoing_causal_edges_apply_the_whole_visibility_rule():
    s = loaded(make_claim("k1", "a", "causes", "b", namespace="n1", confidence=0.7),
               make_claim("k2", "a", "causes", "c", namespace="n2", confidence=0.6),
               make_claim("k3", "a", "inhibits", "d", namespace="n1", confidence=0.5))
    s.set_namespace_filter(["n1"])
    assert s.outgoing_causal_edges("a", ["causes", "inhibits"]) == [("b", "causes", 0.7), ("d", "inhibits", 0.5)]
    s.retract_claim("k1")
    assert s.outgoing_causal_edges("a", ["causes", "inhibits"]) == [("d", "inhibits", 0.5)]


@pytest.mark.parametrize("max_depth, expected", [
    (1, []),
    (2, [("c", 0.4)]),
    (9, [("c", 0.4), ("d", pytest.approx(0.4 * 0.25))]),
])
def test_transitive_closure_multiplies_claim_confidences(max_depth, expected):
    s = loaded(make_claim("k1", "a", "causes", "b", confidence=0.8),
               make_claim("k2", "b", "causes", "c", confidence=0.5),
               make_claim("k3", "c", "causes", "d", confidence=0.25),
               make_claim("k4", "d", "causes", "a", confidence=0.9))
    got = s.transitive_closure("A", ["causes"], max_depth)
    assert [(t, c) for t, _p, _d, c in got] == expected
    assert [d for _t, _p, d, _c in got] == list(range(2, 2 + len(expected)))


def test_transitive_closure_caps_depth_at_five():
    chain = [make_claim(f"k{i}", f"n{i}", "causes", f"n{i + 1}", confidence=1.0) for i in range(8)]
    s = loaded(*chain)
    assert [t for t, *_ in s.transitive_closure("n0", ["causes"], 9)] == ["n2", "n3", "n4", "n5"]


def test_neighbors_read_claims_and_hide_hidden_ones():
    s = loaded(make_claim("ab", "a", "binds", "b"), make_claim("ac", "a", "binds", "c", namespace="other"),
               make_claim("aa", "a", "binds", "a"))
    assert sorted(s.neighbors("A")) == ["a", "b", "c"]
    s.retract_claim("ab")
    s.set_namespace_filter([""])
    assert s.neighbors("a") == ["a"]
    # Hidden claims still connect: the adjacency and the path test ignore visibility.
    assert s.path_exists("a", "b", 1) is True
    assert s.get_adjacency_list() == {"a": {"b", "c"}, "b": {"a"}, "c": {"a"}}
    assert s.bfs_claims("a", 2) == [(s.get_claim("aa"), 1)]


def test_bfs_reports_a_claim_at_every_level_an_endpoint_is_in_the_frontier():
    s = loaded(make_claim("ab", "a", "binds", "b"))
    assert [(c["claim_id"], d) for c, d in s.bfs_claims("a", 2)] == [("ab", 1), ("ab", 2)]
    assert s.bfs_claims("a", 0) == []


# ---- Analytics count visible claims only; source_id_counts is always empty ----

def analytics(s):
    return {
        "predicate_counts": s.predicate_counts(),
        "entity_source_counts": s.entity_source_counts("a"),
        "entity_predicate_counts": s.entity_predicate_counts("a"),
        "find_contradictions": s.find_contradictions("activates", "inhibits"),
        "find_single_source_entities": sorted(s.find_single_source_entities(1)),
        "gap_analysis": s.gap_analysis("gene", ["activates", "inhibits"]),
    }


def analytics_store():
    return loaded(make_claim("x1", "a", "activates", "b", confidence=0.8, source_id="s1", namespace="n1"),
                  make_claim("x2", "a", "activates", "b", confidence=0.6, source_id="s1", namespace="n1"),
                  make_claim("x3", "a", "inhibits", "b", confidence=0.5, source_id="s2", namespace="n2"),
                  make_claim("x4", "c", "activates", "d", confidence=0.4, source_id="s3", namespace="n1"))


def test_analytics_over_all_visible_claims():
    got = analytics(analytics_store())
    assert got["predicate_counts"] == {"activates": 3, "inhibits": 1}
    assert got["entity_source_counts"] == [("s1", 2, pytest.approx(0.7)), ("s2", 1, 0.5)]
    assert got["entity_predicate_counts"] == [("activates", 2), ("inhibits", 1)]
    assert got["find_contradictions"] == [("a", "b", 2, 1, pytest.approx(0.7), 0.5)]
    assert got["find_single_source_entities"] == ["c", "d"]
    assert sorted(got["gap_analysis"]) == [("c", ["inhibits"]), ("d", ["inhibits"])]


def test_analytics_skip_retracted_claims():
    s = analytics_store()
    s.retract_claim("x3")
    got = analytics(s)
    assert got["predicate_counts"] == {"activates": 3}
    assert got["entity_source_counts"] == [("s1", 2, pytest.approx(0.7))]
    assert got["find_contradictions"] == []
    assert got["find_single_source_entities"] == ["a", "b", "c", "d"]
    assert len(got["gap_analysis"]) == 4


def test_analytics_skip_filtered_namespaces_while_adjacency_stays():
    s = analytics_store()
    adjacency = s.get_adjacency_list()
    s.set_namespace_filter(["elsewhere"])
    assert analytics(s) == {"predicate_counts": {}, "entity_source_counts": [], "entity_predicate_counts": [],
                            "find_contradictions": [], "find_single_source_entities": [], "gap_analysis": []}
    assert s.get_adjacency_list() == adjacency
    s.set_namespace_filter(["n2"])
    assert s.predicate_counts() == {"inhibits": 1}


def test_source_id_counts_is_always_empty():
    s = analytics_store()
    assert s.source_id_counts() == {}
    assert s.stats()["source_types"] == {"paper": 4}


def test_stats_count_every_stored_claim_whatever_its_visibility():
    s = analytics_store()
    s.upsert_entity("a", "gene")
    s.retract_claim("x1")
    s.set_namespace_filter(["nothing"])
    st = s.stats()
    assert (st["total_claims"], st["entity_count"]) == (4, 1)
    assert st["predicate_types"] == {"causal": 4}
    assert st["entity_types"] == {"gene": 1}
    assert (st["reader_slots_used"], st["reader_slots_max"]) == (0, 0)
    assert s.count_claims() == 4


def test_entity_claim_count_includes_hidden_claims_and_ignores_aliases():
    s = loaded(make_claim("x", "a", "binds", "b", namespace="n1"), make_claim("y", "a", "binds", "a"),
               make_claim("same", "b", "same_as", "c"))
    s.upsert_entity("a", "gene")
    s.upsert_entity("b", "gene")
    s.upsert_entity("lonely", "gene")
    s.retract_claim("x")
    s.set_namespace_filter(["n2"])
    assert s.get_entity("a")["claim_count"] == 2
    assert s.get_entity("b")["claim_count"] == 2
    assert s.count_entities() == 3
    assert s.count_entities(min_claims=1) == 2
    assert sorted(e["id"] for e in s.list_entities(min_claims=1)) == ["a", "b"]


# ---- Administration answers with constants; merge_from refuses ----

ADMIN = {
    "schema_version": (lambda s: s.schema_version(), 3),
    "compact": (lambda s: s.compact(), False),
    "reader_info": (lambda s: s.reader_info(), (0, 0)),
    "reader_check": (lambda s: s.reader_check(), 0),
    "purge_source": (lambda s: s.purge_source("pmid:1"), 0),
    "clear_aliases": (lambda s: s.clear_aliases(), None),
    "rebuild_counters": (lambda s: s.rebuild_counters(), None),
    "rebuild_causal_adj": (lambda s: s.rebuild_causal_adj(), 0),
    "backfill_pred_id_counts": (lambda s: s.backfill_pred_id_counts(), 0),
    "backfill_claim_summaries": (lambda s: s.backfill_claim_summaries(), 0),
    "backfill_analytics_counters": (lambda s: s.backfill_analytics_counters(), 0),
    "checkpoint": (lambda s: s.checkpoint(), None),
    "set_bulk_load_mode": (lambda s: s.set_bulk_load_mode(True), None),
}


@pytest.mark.parametrize("call, expected", ADMIN.values(), ids=ADMIN.keys())
def test_administration_answers_and_changes_nothing(call, expected):
    s = loaded(make_claim("x", "a", "same_as", "b"), make_claim("y", "b", "binds", "c"))
    assert call(s) == expected
    assert s.count_claims() == 2
    assert ids(s.claims_by_source_id("pmid:1")) == ["x", "y"]
    assert s.get_alias_group_readonly("a") == {"a", "b"}


def test_merge_from_is_refused(tmp_path):
    s = loaded(make_claim("x"))
    with pytest.raises(RuntimeError) as e:
        s.merge_from(str(tmp_path))
    assert str(e.value) == "ProvenanceError: merge_from is only supported on LMDB backends"
    assert s.count_claims() == 1


def test_close_keeps_the_store_usable():
    s = loaded(make_claim("x", "a", "binds", "b"))
    s.upsert_entity("a", "gene", "Alpha")
    assert s.close() is None
    assert s.close() is None
    assert ids(s.claims_for("a")) == ["x"]
    assert s.insert_claim(make_claim("y", "a", "binds", "c")) is True
    assert s.search_entities("alpha")[0]["id"] == "a"
    with s:
        assert s.count_claims() == 2
    assert s.count_claims() == 2
