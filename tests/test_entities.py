"""Entities: registration and merge rules, renaming, lookups, counts and ranked search."""
import logging
import math

import pytest

from factory import make_claim
from zorlet_native import NativeStore

LOGGER = "zorlet_store.backend.lmdb"


def ids(entities):
    return [e["id"] for e in entities]


@pytest.fixture
def people(store):
    """Three registered entities; only alice and bob are named by claims."""
    store.upsert_entity("alice", "person", "Alice Smith")
    store.upsert_entity("bob", "person", "Bob Jones")
    store.upsert_entity("acme", "org", "Acme Corp")
    store.insert_claim(make_claim("c1", "alice", "knows", "bob"))
    store.insert_claim(make_claim("c2", "alice", "works_at", "carol"))
    return store


# ---- registration -------------------------------------------------------------------------------------------


def test_upsert_with_only_id_and_type_uses_the_defaults(store):
    assert store.upsert_entity("tp53", "gene") is None
    assert store.get_entity("tp53") == {"id": "tp53", "name": "tp53", "entity_type": "gene", "external_ids": {},
                                        "claim_count": 0}
    # The id is both the display name and the only token: found once, by its one word.
    assert ids(store.search_entities("tp53")) == ["tp53"]


def test_existing_entity_only_gains_or_replaces_external_ids(store):
    store.upsert_entity("e", "gene", "Original", {"A": "1", "B": "2"}, 5)
    store.upsert_entity("e", "protein", "Renamed", {"A": "9", "C": "3"}, 7)
    store.upsert_entity("e", "other", "Again")  # no external ids: nothing changes
    assert store.get_entity("e") == {"id": "e", "name": "Original", "entity_type": "gene",
                                     "external_ids": {"A": "9", "B": "2", "C": "3"}, "claim_count": 0}
    # Neither the second type nor the second name reached any index.
    assert store.count_entities("protein") == 0
    assert store.search_entities("renamed") == []


@pytest.mark.parametrize("id_bytes, stored", [(490, True), (491, False)])
def test_ids_over_490_bytes_are_skipped_with_a_warning(store, caplog, id_bytes, stored):
    entity_id = "x" * id_bytes
    with caplog.at_level(logging.WARNING, logger=LOGGER):
        store.upsert_entity(entity_id, "gene")
    assert (store.get_entity(entity_id) is not None) == stored
    warnings = [r.getMessage() for r in caplog.records if r.name == LOGGER]
    if stored:
        assert warnings == []
    else:
        assert warnings == [f"Skipping entity with oversized key (491 bytes): {'x' * 80}..."]


def test_oversized_warning_cuts_its_excerpt_at_a_character_boundary(store, caplog):
    entity_id = "a" + "é" * 300  # 601 bytes; byte 80 falls inside a two-byte character
    with caplog.at_level(logging.WARNING, logger=LOGGER):
        store.upsert_entity(entity_id, "gene")
    [message] = [r.getMessage() for r in caplog.records if r.name == LOGGER]
    assert message == f"Skipping entity with oversized key (601 bytes): {'a' + 'é' * 39}..."


@pytest.mark.parametrize("kwargs, name", [
    ({"display_name": None}, "display_name"),
    ({"external_ids": {"a": 1}}, "external_ids"),
    ({"external_ids": {1: "a"}}, "external_ids"),
    ({"external_ids": [("a", "b")]}, "external_ids"),
    ({"timestamp": 1.5}, "timestamp"),
])
def test_upsert_entity_argument_errors_name_the_argument(store, kwargs, name):
    with pytest.raises(TypeError, match=f"^argument '{name}': "):
        store.upsert_entity("e", "gene", **kwargs)
    assert store.get_entity("e") is None


def test_read_only_store_ignores_entity_writes(store_path):
    s = NativeStore(store_path)
    s.upsert_entity("e", "gene", "Name")
    s.close()
    ro = NativeStore.open_read_only(store_path)
    try:
        assert ro.upsert_entity("f", "gene") is None
        assert ro.update_display_name("e", "Other") is False
        assert ro.get_entity("f") is None
        assert ro.get_entity("e")["name"] == "Name"
    finally:
        ro.close()


# ---- renaming -----------------------------------------------------------------------------------------------


def test_update_display_name_keeps_the_old_tokens_searchable(store):
    store.upsert_entity("e1", "gene", "Old Label")
    assert store.update_display_name("e1", "Fresh Title") is True
    assert store.get_entity("e1")["name"] == "Fresh Title"
    for query in ("old", "label", "fresh", "title"):
        assert ids(store.search_entities(query)) == ["e1"], query
    assert store.count_entities("gene") == 1  # the type index is untouched


def test_update_display_name_of_a_missing_entity_is_false(store):
    assert store.update_display_name("nobody", "Name") is False
    assert store.get_entity("nobody") is None


def test_update_display_name_accepts_an_empty_name(store):
    store.upsert_entity("e1", "gene", "Label")
    assert store.update_display_name("e1", "") is True
    assert store.get_entity("e1")["name"] == ""


# ---- lookups and counts -------------------------------------------------------------------------------------


def test_get_entity_of_an_id_only_named_by_claims_is_none(people):
    assert people.get_entity("carol") is None


def test_claim_count_counts_subject_and_object_sides_and_retracted_claims(people):
    people.retract_claim("c1")
    assert people.get_entity("alice")["claim_count"] == 2
    assert people.get_entity("bob")["claim_count"] == 1
    assert people.get_entity("acme")["claim_count"] == 0


def test_claim_count_is_per_stored_id_not_per_alias_group(store):
    store.upsert_entity("a", "gene")
    store.upsert_entity("b", "gene")
    store.insert_claim(make_claim("s", "a", "same_as", "b"))
    store.insert_claim(make_claim("x", "b", "relates_to", "z"))
    assert store.get_alias_group_readonly("a") == {"a", "b"}
    assert store.get_entity("a")["claim_count"] == 1
    assert store.get_entity("b")["claim_count"] == 2


@pytest.mark.parametrize("kwargs, expected", [
    ({}, ["acme", "alice", "bob"]),
    ({"limit": 0}, ["acme", "alice", "bob"]),
    ({"offset": 1, "limit": 1}, ["alice"]),
    ({"offset": 2}, ["bob"]),
    ({"offset": 5}, []),
    ({"entity_type": "person"}, ["alice", "bob"]),
    ({"entity_type": None}, ["acme", "alice", "bob"]),
    ({"entity_type": "planet"}, []),
    ({"min_claims": 1}, ["alice", "bob"]),
    ({"min_claims": 2}, ["alice"]),
    ({"min_claims": 1, "offset": 1}, ["bob"]),
    ({"entity_type": "person", "min_claims": 2}, ["alice"]),
])
def test_list_entities(people, kwargs, expected):
    assert ids(people.list_entities(**kwargs)) == expected


def test_list_entities_reports_full_summaries(people):
    assert people.list_entities("org") == [{"id": "acme", "name": "Acme Corp", "entity_type": "org",
                                            "external_ids": {}, "claim_count": 0}]


@pytest.mark.parametrize("kwargs, expected", [
    ({}, 3),
    ({"entity_type": None}, 3),
    ({"entity_type": "person"}, 2),
    ({"entity_type": "planet"}, 0),
    ({"min_claims": 1}, 2),
    ({"min_claims": 2}, 1),
    ({"entity_type": "org", "min_claims": 1}, 0),
    ({"entity_type": "person", "min_claims": 2}, 1),
])
def test_count_entities(people, kwargs, expected):
    assert people.count_entities(**kwargs) == expected


@pytest.mark.parametrize("method, args", [
    ("list_entities", (None, -1)),
    ("list_entities", (None, 0, -1)),
    ("count_entities", (None, -1)),
    ("search_entities", ("acme", -1)),
])
def test_negative_counts_overflow_before_the_store_is_read(people, method, args):
    with pytest.raises(OverflowError):
        getattr(people, method)(*args)


# ---- search -------------------------------------------------------------------------------------------------


@pytest.mark.parametrize("query, top_k", [("acme", 0), ("a", 10), ("!!! ---", 10), ("", 10), ("zebra", 10)])
def test_search_without_usable_tokens_or_matches_is_empty(people, query, top_k):
    assert people.search_entities(query, top_k) == []


def test_search_on_an_empty_store_is_empty(store):
    assert store.search_entities("anything") == []


def test_search_matches_lower_cased_names_and_split_ids(store):
    store.upsert_entity("org1", "org", "ACME Corp")
    store.upsert_entity("acme_inc", "org")
    store.upsert_entity("other", "org", "Globex")
    assert sorted(ids(store.search_entities("Acme"))) == ["acme_inc", "org1"]


def test_search_matches_non_ascii_tokens(store):
    store.upsert_entity("c1", "place", "Café Zürich")
    assert ids(store.search_entities("ZÜRICH")) == ["c1"]
    assert ids(store.search_entities("café")) == ["c1"]


def test_search_returns_entity_dicts_with_claim_counts(people):
    assert people.search_entities("alice smith") == [people.get_entity("alice")]


def test_search_top_k_defaults_to_ten_and_limits_the_result(store):
    for i in range(12):
        store.upsert_entity(f"k{i:02d}", "gene", "kinase")
    assert len(store.search_entities("kinase")) == 10
    assert len(store.search_entities("kinase", 3)) == 3
    assert len(store.search_entities("kinase", 100)) == 12


def test_equal_documents_for_one_token_score_equally(store):
    # Same length, same single token: any order, but both come back before the longer one.
    store.upsert_entity("p1", "gene", "alpha")
    store.upsert_entity("p2", "gene", "alpha")
    store.upsert_entity("p3", "gene", "alpha beta gamma delta")
    found = ids(store.search_entities("alpha"))
    assert sorted(found[:2]) == ["p1", "p2"] and found[2] == "p3"


def _bm25_order(corpus, query_tokens, n_docs):
    """Reference ranking: token lists per id, query positions in order."""
    postings = [[d for d, toks in corpus.items() if q in toks] for q in query_tokens]
    candidates = {d for p in postings for d in p}
    dl = {d: max(1, len(corpus[d])) for d in candidates}
    avgdl = max(1.0, sum(dl.values()) / len(candidates))
    scores = {}
    for d in candidates:
        s = 0.0
        for q, p in zip(query_tokens, postings):
            if d in p:
                df = len(p)
                s += 1 * 2.2 / (1 + 1.2 * (0.25 + 0.75 * dl[d] / avgdl)) * math.log((n_docs - df + 0.5) / (df + 0.5) + 1)
        scores[d] = s
    assert len(set(scores.values())) == len(scores), "reference scores must be distinct"
    return sorted(scores, key=lambda d: -scores[d])


@pytest.mark.parametrize("query, tokens", [
    ("heat shock", ["heat", "shock"]),
    ("shock", ["shock"]),
    ("heat heat protein", ["heat", "heat", "protein"]),  # a repeated word counts twice
    ("protein factor", ["protein", "factor"]),
])
def test_search_ranks_by_bm25(store, query, tokens):
    names = {
        "hsp70": "heat shock protein",
        "hsf1": "heat shock transcription factor",
        "hspb1": "heat protein",
        "shk": "shock",
        "tf": "transcription factor of heat response",
        "misc": "unrelated entry",
        "misc2": "another unrelated entry",
    }
    for entity_id, name in names.items():
        store.upsert_entity(entity_id, "gene", name)
    # Document tokens are the name's tokens plus the id's.
    corpus = {i: n.split() + [i] for i, n in names.items()}
    assert ids(store.search_entities(query)) == _bm25_order(corpus, tokens, len(names))


def test_renamed_entity_is_ranked_by_its_current_name_length(store):
    store.upsert_entity("long", "gene", "kinase one two three four")
    store.upsert_entity("short", "gene", "kinase")
    assert ids(store.search_entities("kinase")) == ["short", "long"]
    store.update_display_name("long", "kinase")
    store.update_display_name("short", "kinase five six seven eight nine")
    assert ids(store.search_entities("kinase")) == ["long", "short"]


def test_entity_lookups_after_close_raise_the_internal_fault(store):
    store.close()
    for call in (lambda: store.get_entity("e"), lambda: store.search_entities("abc"),
                 lambda: store.count_entities(), lambda: store.upsert_entity("e", "gene")):
        with pytest.raises(BaseException, match="LMDB environment already closed") as info:
            call()
        assert not isinstance(info.value, Exception)
