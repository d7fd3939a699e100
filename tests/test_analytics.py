"""Analytics queries on a persistent store: counts per predicate and source, per-entity
breakdowns, contradictions, single-source entities and gap analysis, each on its
counter path and on its summary path (taken when retractions or a namespace filter
are in force)."""
import pytest

from factory import make_claim
from zorlet_native import NativeStore


def retract_unrelated(store):
    """Forces the summary path without touching the claims under test."""
    store.insert_claim(make_claim("unrelated", "zz-x", "unrelated_pred", "zz-y", source_id="zz"))
    assert store.retract_claim("unrelated") is True


PATHS = ["counters", "summaries"]


def choose_path(store, path):
    if path == "summaries":
        retract_unrelated(store)


@pytest.fixture
def sourced(store):
    """Entity a: three claims from s1 (0.5, 0.7, 0.9) and one from s2."""
    store.insert_claims_batch([
        make_claim("c1", "a", "activates", "b", source_id="s1", confidence=0.5),
        make_claim("c2", "a", "inhibits", "c", source_id="s1", confidence=0.7),
        make_claim("c3", "d", "activates", "a", source_id="s1", confidence=0.9),
        make_claim("c4", "a", "activates", "e", source_id="s2", confidence=0.4),
    ])
    return store


@pytest.mark.parametrize("path", PATHS)
def test_entity_source_counts_sorted_by_count_with_average_confidence(sourced, path):
    choose_path(sourced, path)
    result = sourced.entity_source_counts("a")
    assert [(s, n) for s, n, _ in result] == [("s1", 3), ("s2", 1)]
    assert result[0][2] == pytest.approx(0.7)
    assert result[1][2] == pytest.approx(0.4)
    assert all(isinstance(t, tuple) and len(t) == 3 for t in result)


@pytest.mark.parametrize("path", PATHS)
def test_entity_predicate_counts_cover_subject_and_object_sides(sourced, path):
    choose_path(sourced, path)
    assert sourced.entity_predicate_counts("a") == [("activates", 3), ("inhibits", 1)]
    assert sourced.entity_predicate_counts("b") == [("activates", 1)]
    assert sourced.entity_predicate_counts("nobody") == []


def test_retraction_switches_to_summaries_that_leave_the_claim_out(sourced):
    """The counters still count a retracted claim; the answers must not."""
    assert sourced.retract_claim("c2") is True
    assert [(s, n) for s, n, _ in sourced.entity_source_counts("a")] == [("s1", 2), ("s2", 1)]
    assert sourced.entity_source_counts("a")[0][2] == pytest.approx(0.7)
    assert sourced.entity_predicate_counts("a") == [("activates", 3)]
    sourced.set_include_retracted(True)
    assert [(s, n) for s, n, _ in sourced.entity_source_counts("a")] == [("s1", 3), ("s2", 1)]


def test_namespace_filter_counts_only_visible_namespaces(store):
    store.insert_claims_batch([
        make_claim("n1", "g", "activates", "h", namespace="team-a"),
        make_claim("n2", "g", "activates", "i", namespace="team-a"),
        make_claim("n3", "g", "inhibits", "h", namespace="team-b"),
        make_claim("n4", "g", "binds", "j", namespace=""),
    ])
    # Ties keep key order on the counter path.
    assert store.entity_predicate_counts("g") == [("activates", 2), ("binds", 1), ("inhibits", 1)]
    store.set_namespace_filter(["team-b", ""])
    assert sorted(store.entity_predicate_counts("g")) == [("binds", 1), ("inhibits", 1)]
    assert [(s, n) for s, n, _ in store.entity_source_counts("g")] == [("pmid:1", 2)]
    store.set_namespace_filter(["nowhere"])
    assert store.entity_predicate_counts("g") == []


def test_predicate_and_source_counts(store):
    store.insert_claims_batch([make_claim(f"p{i}", "a", ["causes", "binds", "binds"][i % 3], "b",
                                          source_id=f"src{i % 2}") for i in range(9)])
    assert store.predicate_counts() == {"causes": 3, "binds": 6}
    assert store.source_id_counts() == {"src0": 5, "src1": 4}


def test_predicate_counts_after_bulk_load_come_from_the_index(store):
    store.set_bulk_load_mode(True)
    store.insert_claims_batch([make_claim(f"p{i}", "a", ["causes", "binds"][i % 2], "b") for i in range(7)])
    store.set_bulk_load_mode(False)
    assert store.stats()["predicate_types"] == {}  # the counters were skipped
    assert store.predicate_counts() == {"causes": 4, "binds": 3}


@pytest.mark.parametrize("path", PATHS)
def test_find_contradictions(store, path):
    store.insert_claims_batch([
        make_claim("x1", "A", "activates", "B", confidence=0.8),
        make_claim("x2", "A", "activates", "B", source_id="other", confidence=0.6),
        make_claim("x3", "A", "inhibits", "B", confidence=0.3),
        make_claim("x4", "A", "activates", "C"),  # only one side: not a contradiction
        make_claim("x5", "D", "inhibits", "E"),
        make_claim("x6", "Q", "activates", "R"),
        make_claim("x7", "Q", "inhibits", "R"),
        make_claim("x8", "Q", "inhibits", "R", content_id="again"),
        make_claim("x9", "Q", "inhibits", "R", content_id="and again"),
    ])
    choose_path(store, path)
    result = store.find_contradictions("activates", "inhibits")
    assert [r[:4] for r in result] == [("Q", "R", 1, 3), ("A", "B", 2, 1)]
    assert result[1][4] == pytest.approx(0.7) and result[1][5] == pytest.approx(0.3)
    assert store.find_contradictions("activates", "nothing") == []
    assert store.find_contradictions("nothing", "inhibits") == []


def test_contradiction_disappears_when_one_side_is_retracted(store):
    store.insert_claims_batch([make_claim("y1", "A", "activates", "B"), make_claim("y2", "A", "inhibits", "B")])
    assert len(store.find_contradictions("activates", "inhibits")) == 1
    store.retract_claim("y2")
    assert store.find_contradictions("activates", "inhibits") == []


def test_find_single_source_entities(store):
    claims = [make_claim(f"one{i}", "solo", "binds", "solo", source_id="s") for i in range(5)]
    claims += [make_claim(f"four{i}", "few", "binds", "few", source_id="s") for i in range(4)]
    claims += [make_claim(f"two{i}", "mixed", "binds", "mixed", source_id=f"s{i % 2}") for i in range(6)]
    store.insert_claims_batch(claims)
    assert store.find_single_source_entities() == ["solo"]
    assert sorted(store.find_single_source_entities(4)) == ["few", "solo"]
    assert store.find_single_source_entities(min_claims=6) == []
    # Always answered from the counters: retraction does not change it.
    store.retract_claim("one0")
    assert store.find_single_source_entities() == ["solo"]


@pytest.fixture
def genes(store):
    for g in ["g1", "g2", "g3", "g4"]:
        store.upsert_entity(g, "gene", g.upper())
    store.upsert_entity("d1", "disease", "D1")
    store.insert_claims_batch([
        make_claim("k1", "g1", "p1", "d1", object_type="disease"),  # g1: p1 only
        make_claim("k2", "g2", "p1", "d1", object_type="disease"),  # g2: p1, p2, p3
        make_claim("k3", "g2", "p2", "d1", object_type="disease"),
        make_claim("k4", "g2", "p3", "d1", object_type="disease"),
        make_claim("k5", "d1", "p3", "g3", subject_type="disease"),  # g3: p3, as object
        make_claim("k6", "g4", "other", "d1", object_type="disease"),  # g4: none of them
    ])
    return store


@pytest.mark.parametrize("path", PATHS)
@pytest.mark.parametrize("expected, limit, answer", [
    (["p1", "p2"], 0, [("g1", ["p2"])]),
    (["p1", "p2", "p3"], 0, [("g1", ["p2", "p3"]), ("g3", ["p1", "p2"])]),
    (["p1", "p2", "p3"], 1, [("g1", ["p2", "p3"])]),
    ([], 0, []),
])
def test_gap_analysis(genes, path, expected, limit, answer):
    choose_path(genes, path)
    result = genes.gap_analysis("gene", expected, limit)
    assert [(e, sorted(m)) for e, m in result] == answer


def test_gap_analysis_longest_missing_list_first(genes):
    result = genes.gap_analysis("gene", ["p1", "p2", "p3", "p4"])
    assert [len(m) for _, m in result] == sorted((len(m) for _, m in result), reverse=True)
    assert result[0] == ("g1", ["p2", "p3", "p4"])


@pytest.mark.parametrize("call, exc", [
    (lambda s: s.gap_analysis("gene", "p1"), TypeError),
    (lambda s: s.find_single_source_entities(-1), OverflowError),
    (lambda s: s.find_contradictions("a"), TypeError),
    (lambda s: s.entity_source_counts(b"a"), TypeError),
])
def test_argument_errors(store, call, exc):
    with pytest.raises(exc):
        call(store)


def test_queries_on_an_empty_store(store):
    assert store.predicate_counts() == {}
    assert store.source_id_counts() == {}
    assert store.entity_source_counts("a") == []
    assert store.find_contradictions("a", "b") == []
    assert store.find_single_source_entities(0) == []
    assert store.gap_analysis("gene", ["p"]) == []


def test_queries_after_close_raise_the_internal_fault(store_path):
    s = NativeStore(store_path)
    s.close()
    for call in [s.predicate_counts, lambda: s.entity_source_counts("a"), lambda: s.gap_analysis("g", ["p"])]:
        with pytest.raises(BaseException, match="already closed") as info:
            call()
        assert not isinstance(info.value, Exception)
