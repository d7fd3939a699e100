"""Graph methods on a persistent store: traversal, causal edges and closure,
causal prediction and betweenness centrality."""
import pytest

from factory import make_claim

CLOSED = "LMDB environment already closed \u2014 check for double-close or use-after-close bugs"


def link(store, *edges, predicate="relates_to", **fields):
    """Stores one claim per (subject, object) pair; claim ids are 'subject-object'."""
    for s, o in edges:
        assert store.insert_claim(make_claim(f"{s}-{o}", s, predicate, o, **fields))


def ids_at_depth(found):
    return sorted((claim["claim_id"], depth) for claim, depth in found)


# ---- path_exists ----

@pytest.mark.parametrize("a, b, depth, expected", [
    ("a", "a", 0, True),      # an entity reaches itself without a walk
    ("a", "c", 0, False),
    ("a", "b", 1, True),
    ("a", "c", 1, False),
    ("a", "c", 2, True),
    ("c", "a", 2, True),      # the adjacency index holds both directions
    ("a", " A ", 0, True),    # ids are normalised before the walk
    ("a", "z", 3, False),
    ("q", "q", 3, True),      # unknown ids too
])
def test_path_exists_within_depth(store, a, b, depth, expected):
    link(store, ("a", "b"), ("b", "c"))
    assert store.path_exists(a, b, depth) is expected


def test_path_exists_uses_depth_three_by_default(store):
    link(store, ("a", "b"), ("b", "c"), ("c", "d"), ("d", "e"))
    assert store.path_exists("a", "d") is True
    assert store.path_exists("a", "e") is False


def test_path_exists_meets_only_the_canonical_target(store):
    # x and y form one alias group; start_x links to x, start_y to y.
    link(store, ("start_x", "x"), ("start_y", "y"))
    assert store.insert_claim(make_claim("xy", "x", "same_as", "y"))
    canonical = store.resolve_readonly("x")
    other = "y" if canonical == "x" else "x"
    assert store.resolve_readonly(other) == canonical != other

    # Two ids of one group are connected even without a walk.
    assert store.path_exists(canonical, other, 0) is True
    # From the start beside the canonical id, either member is one step away.
    assert store.path_exists(f"start_{canonical}", other, 1) is True
    # Beside the other member, reaching that member is not reaching the
    # target: the target is the canonical id, one more step on.
    assert store.path_exists(f"start_{other}", other, 1) is False
    assert store.path_exists(f"start_{other}", canonical, 1) is False
    assert store.path_exists(f"start_{other}", canonical, 2) is True


# ---- bfs_claims ----

def test_bfs_reports_a_claim_at_every_level_that_expands_one_of_its_ends(store):
    link(store, ("a", "b"))
    assert ids_at_depth(store.bfs_claims("a")) == [("a-b", 1), ("a-b", 2)]
    assert ids_at_depth(store.bfs_claims("a", 1)) == [("a-b", 1)]
    assert store.bfs_claims("a", 0) == []
    assert store.bfs_claims("nobody", 5) == []


def test_bfs_walks_levels_outward(store):
    link(store, ("a", "b"), ("b", "c"), ("c", "d"))
    found = ids_at_depth(store.bfs_claims("a", 3))
    assert found == [("a-b", 1), ("a-b", 2), ("b-c", 2), ("b-c", 3), ("c-d", 3)]
    claim, depth = store.bfs_claims("a", 1)[0]
    assert (claim["subject"]["id"], claim["object"]["id"], depth) == ("a", "b", 1)
    assert isinstance(depth, int)


def test_bfs_starts_from_the_whole_alias_group(store):
    link(store, ("a", "x"), ("b", "y"))
    assert store.insert_claim(make_claim("ab", "a", "same_as", "b"))
    assert ids_at_depth(store.bfs_claims("B", 1)) == [("a-x", 1), ("ab", 1), ("b-y", 1)]


def test_hidden_claims_neither_appear_nor_extend_the_search(store):
    link(store, ("a", "b"), ("b", "c"))
    assert store.retract_claim("a-b") is True
    assert store.bfs_claims("a", 3) == []
    # The adjacency index keeps the edge of a retracted claim.
    assert store.path_exists("a", "b", 1) is True

    store.set_include_retracted(True)
    found = store.bfs_claims("a", 2)
    assert ids_at_depth(found) == [("a-b", 1), ("a-b", 2), ("b-c", 2)]
    assert {c["claim_id"]: c["status"] for c, _ in found}["a-b"] == "tombstoned"


def test_bfs_honours_the_namespace_filter(store):
    link(store, ("a", "b"), namespace="ns1")
    link(store, ("a", "c"), namespace="ns2")
    store.set_namespace_filter(["ns2"])
    assert ids_at_depth(store.bfs_claims("a", 1)) == [("a-c", 1)]


# ---- neighbors and get_adjacency_list ----

def test_neighbors_and_adjacency_ignore_status(store):
    link(store, ("a", "b"), ("c", "a"), ("d", "e"))
    assert store.retract_claim("c-a")
    assert sorted(store.neighbors("a")) == ["b", "c"]
    assert sorted(store.neighbors(" A")) == ["b", "c"]
    assert store.neighbors("nobody") == []
    assert store.get_adjacency_list() == {
        "a": {"b", "c"}, "b": {"a"}, "c": {"a"}, "d": {"e"}, "e": {"d"},
    }


# ---- outgoing_causal_edges ----

def test_indexed_causal_edges_carry_the_index_confidence(store):
    link(store, ("a", "b"), predicate="causes", confidence=0.99)
    link(store, ("a", "c"), predicate="inhibits", confidence=0.1)
    link(store, ("z", "a"), predicate="causes")
    assert store.outgoing_causal_edges("a", ["causes"]) == [("b", "causes", 0.65)]
    assert sorted(store.outgoing_causal_edges("a", ["causes", "inhibits", "causes"])) == [
        ("b", "causes", 0.65), ("c", "inhibits", 0.65)]
    assert store.outgoing_causal_edges("a", []) == []
    # The id is used exactly as given.
    assert store.outgoing_causal_edges(" A", ["causes"]) == []


def test_unindexed_predicates_are_read_from_the_subjects_claims(store):
    # "triggers" is not a built-in causal predicate, so no index entry exists.
    link(store, ("a", "b"), predicate="triggers", confidence=0.3)
    link(store, ("a", "c"), predicate="triggers", confidence=0.4, namespace="other")
    link(store, ("z", "a"), predicate="triggers")
    link(store, ("a", "d"), predicate="relates_to")
    store.set_namespace_filter(["main"])  # does not apply to causal edges
    edges = sorted(store.outgoing_causal_edges("a", ["triggers"]))
    assert edges == [("b", "triggers", 0.3), ("c", "triggers", 0.4)]

    assert store.retract_claim("a-b")
    assert store.outgoing_causal_edges("a", ["triggers"]) == [("c", "triggers", 0.4)]
    store.set_include_retracted(True)
    assert len(store.outgoing_causal_edges("a", ["triggers"])) == 2


# ---- transitive_closure ----

def test_closure_composes_predicates_and_skips_direct_successors(store):
    link(store, ("a", "b"), ("b", "c"), predicate="causes")
    assert store.transitive_closure("a", ["causes"], 3) == [("c", "causes", 2, pytest.approx(0.4225))]
    assert store.transitive_closure("a", ["causes"], 1) == []
    assert store.transitive_closure("A", ["causes"], 3)[0][0] == "c"


@pytest.mark.parametrize("first, second, composed, confidence", [
    ("activates", "inhibits", "inhibits", 0.65 * 0.65),
    ("inhibits", "inhibits", "activates", 0.65 * 0.65),
    ("prevents", "prevents", "causes", 0.65 * 0.65),
    # Not indexed as causal on write: edges come from the claims themselves.
    ("stabilizes", "stabilizes", "stabilizes", 0.9 * 0.8),
    ("activates", "causes", None, None),  # composes to "associated_with": dropped
])
def test_closure_labels_two_step_paths(store, first, second, composed, confidence):
    link(store, ("a", "b"), predicate=first, confidence=0.9)
    link(store, ("b", "c"), predicate=second, confidence=0.8)
    expected = [] if composed is None else [("c", composed, 2, pytest.approx(confidence))]
    assert store.transitive_closure("a", [first, second], 5) == expected


def test_closure_depth_is_capped_at_five(store):
    chain = [f"n{i}" for i in range(9)]
    link(store, *zip(chain, chain[1:]), predicate="causes")
    result = store.transitive_closure("n0", ["causes"], 9)
    assert [(t, d) for t, _, d, _ in result] == [("n2", 2), ("n3", 3), ("n4", 4), ("n5", 5)]
    assert result[-1][3] == pytest.approx(0.65 ** 5)
    assert store.transitive_closure("n0", ["causes"], 3) == result[:2]


def test_closure_never_returns_to_the_start_and_reports_each_target_once(store):
    link(store, ("a", "b"), ("b", "a"), ("b", "c"), ("a", "d"), ("d", "c"), ("c", "e"), predicate="causes")
    result = store.transitive_closure("a", ["causes"], 5)
    assert sorted((t, d) for t, _, d, _ in result) == [("c", 2), ("e", 3)]


def test_closure_refuses_a_str_for_the_predicate_list(store):
    with pytest.raises(TypeError, match=r"^argument 'causal_predicates': Can't extract `str` to `Vec`$"):
        store.transitive_closure("a", "causes", 3)


# ---- predict_causal ----

CAUSES = {("causes", "causes"): "causes", ("causes", "prevents"): "prevents"}
OPPOSITES = {"causes": "prevents", "prevents": "causes"}


def predict(store, start="a", composition=CAUSES, opposites=OPPOSITES, max_intermediaries=10, min_paths=1,
            hub_max_claims=10**6):
    return store.predict_causal(start, ["causes", "prevents"], composition, opposites, max_intermediaries,
                                min_paths, hub_max_claims)


def test_prediction_of_a_two_step_chain(store):
    link(store, ("a", "b"), ("b", "c"), predicate="causes")
    assert predict(store) == [("c", "causes", 1, 0, True, 1)]
    assert predict(store, max_intermediaries=0) == []
    link(store, ("a", "c"), predicate="causes")
    assert predict(store) == []


def test_prediction_counts_distinct_intermediaries_against_opposing_ones(store):
    link(store, ("a", "b1"), ("a", "b2"), ("a", "b3"), ("a", "p1"), ("a", "p2"), predicate="causes")
    link(store, ("b1", "t"), ("b2", "t"), predicate="causes")
    link(store, ("p1", "t"), ("p2", "t"), predicate="prevents")
    assert predict(store) == []  # two against two
    link(store, ("b3", "t"), predicate="causes")
    assert predict(store, min_paths=3) == [("t", "causes", 3, 2, True, 3)]
    assert predict(store, min_paths=4) == []


def test_prediction_skips_hubs_by_entity_claim_count(store):
    link(store, ("a", "hub"), ("hub", "x"), ("hub", "y"), predicate="causes")
    store.upsert_entity("hub", "gene")
    assert store.get_entity("hub")["claim_count"] == 3
    assert sorted(predict(store, hub_max_claims=3)) == [("x", "causes", 1, 0, True, 1), ("y", "causes", 1, 0, True, 1)]
    assert predict(store, hub_max_claims=2) == []


@pytest.mark.parametrize("composition, opposites, message", [
    ({("causes",): "causes"}, {}, "composition"),
    ({("causes", "causes", "x"): "causes"}, {}, "composition"),
    ({("causes", 1): "causes"}, {}, "composition"),
    ({("causes", "causes"): 1}, {}, "composition"),
    ([], {}, "composition"),
    ({}, {"causes": 1}, "opposites"),
    ({}, {1: "causes"}, "opposites"),
    ({}, [("causes", "prevents")], "opposites"),
])
def test_prediction_argument_shapes(store, composition, opposites, message):
    with pytest.raises(TypeError, match=rf"^argument '{message}': "):
        predict(store, composition=composition, opposites=opposites)


def test_prediction_refuses_a_list_as_composition_key(store):
    # A list is unhashable, so the dict has to be built from pairs another way.
    class ListKey(list):
        __hash__ = object.__hash__
    with pytest.raises(TypeError, match=r"^argument 'composition': "):
        predict(store, composition={ListKey(["causes", "causes"]): "causes"})


# ---- compute_betweenness_centrality ----

def test_betweenness_of_small_shapes(store):
    assert store.compute_betweenness_centrality() == {}
    link(store, ("a", "b"))
    assert store.compute_betweenness_centrality() == {"a": 0.0, "b": 0.0}
    link(store, ("b", "c"))
    scores = store.compute_betweenness_centrality()
    assert scores == {"a": 0.0, "b": pytest.approx(2 / 3), "c": 0.0}
    capped = store.compute_betweenness_centrality(max_nodes=2)
    assert len(capped) == 2 and "b" in capped and set(capped.values()) == {0.0}


def test_betweenness_of_a_star_counts_retracted_edges(store):
    link(store, ("h", "l1"), ("h", "l2"), ("l3", "h"), ("h", "l4"))
    assert store.retract_claim("l3-h")
    scores = store.compute_betweenness_centrality(sample_size=0, seed=0, adaptive=False, max_nodes=0)
    assert scores == {"h": pytest.approx(0.4), "l1": 0.0, "l2": 0.0, "l3": 0.0, "l4": 0.0}


def test_betweenness_sampling_is_repeatable_for_a_seed(store):
    link(store, *[(f"n{i}", f"n{j}") for i in range(12) for j in range(i + 1, 12) if (i * j) % 5 == 1])
    one = store.compute_betweenness_centrality(sample_size=1, seed=7, adaptive=False)
    assert one == store.compute_betweenness_centrality(sample_size=1, seed=7, adaptive=False)
    assert set(one) == set(store.get_adjacency_list())


@pytest.mark.parametrize("kwargs", [{"adaptive": 1}, {"seed": "42"}, {"max_nodes": 1.5}])
def test_betweenness_argument_kinds(store, kwargs):
    with pytest.raises(TypeError, match=rf"^argument '{next(iter(kwargs))}': "):
        store.compute_betweenness_centrality(**kwargs)
    with pytest.raises(OverflowError):
        store.compute_betweenness_centrality(sample_size=-1)


# ---- closed store ----

@pytest.mark.parametrize("call", [
    lambda s: s.neighbors("a"),
    lambda s: s.bfs_claims("a"),
    lambda s: s.path_exists("a", "a"),
    lambda s: s.get_adjacency_list(),
    lambda s: s.transitive_closure("a", ["causes"], 3),
    lambda s: s.outgoing_causal_edges("a", ["causes"]),
    lambda s: s.predict_causal("a", ["causes"], {}, {}, 10, 1, 10),
    lambda s: s.compute_betweenness_centrality(),
])
def test_graph_methods_on_a_closed_store_raise_the_internal_fault(store, call):
    store.close()
    with pytest.raises(BaseException) as e:
        call(store)
    assert not isinstance(e.value, Exception)
    assert str(e.value) == CLOSED
