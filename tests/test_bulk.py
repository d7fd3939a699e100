"""Bulk ingestion: entity tables, claim rows, their element checks, and two-phase loading."""
import logging

import pytest

from zorlet_native import NativeStore

LOGGER = "zorlet_store.backend.lmdb"


def row(subject="s", obj="o", claim_id="c1", *, content_id="cnt", predicate="relates_to",
        predicate_type="relation", confidence=0.5, source_type="paper", source_id="p1", timestamp=100,
        filler=None, length=16):
    """A bulk row; positions 9-13 and 15 carry `filler`, which is never read."""
    r = [subject, obj, claim_id, content_id, predicate, predicate_type, confidence, source_type, source_id,
         filler, filler, filler, filler, filler, timestamp, filler]
    return tuple(r[:length])


@pytest.fixture
def ro_store(tmp_path):
    path = str(tmp_path / "read_only")
    NativeStore(path).close()
    s = NativeStore.open_read_only(path)
    yield s
    s.close()


# ---- what a row becomes -------------------------------------------------------------------------------------


def test_row_becomes_a_claim_with_fixed_defaults(any_store):
    entities = {"s": ("gene", "Subject S", '{"hgnc": "1"}'), "o": ("process", "Object O", "")}
    assert any_store.insert_bulk(entities, [row(confidence=0.75, timestamp=42)], 7) == 1
    assert any_store.get_claim("c1") == {
        "claim_id": "c1", "content_id": "cnt",
        "subject": {"id": "s", "entity_type": "gene", "display_name": "Subject S", "external_ids": {}},
        "predicate": {"id": "relates_to", "predicate_type": "relation"},
        "object": {"id": "o", "entity_type": "process", "display_name": "Object O", "external_ids": {}},
        "confidence": 0.75,
        "provenance": {"source_type": "paper", "source_id": "p1", "method": None, "chain": [], "model_version": None,
                       "organization": None, "project": None, "agent_id": None, "source_version": None,
                       "labels": {}},
        "payload": None, "timestamp": 42, "status": "active", "namespace": "", "expires_at": 0,
    }
    # The timestamp argument dates the entities only.
    assert any_store.get_entity("s") == {"id": "s", "name": "Subject S", "entity_type": "gene",
                                         "external_ids": {"hgnc": "1"}, "claim_count": 1}


def test_names_come_from_the_table_then_the_store_then_the_id(any_store):
    any_store.upsert_entities_batch({"known": ("protein", "Known Protein", "")}, 1)
    rows = [row("fresh", "known", "c1"), row("stranger", "fresh", "c2")]
    assert any_store.insert_bulk({"fresh": ("gene", "Fresh Gene", "")}, rows, 2) == 2
    c1, c2 = any_store.get_claim("c1"), any_store.get_claim("c2")
    assert (c1["subject"]["entity_type"], c1["subject"]["display_name"]) == ("gene", "Fresh Gene")
    assert (c1["object"]["entity_type"], c1["object"]["display_name"]) == ("protein", "Known Protein")
    assert (c2["subject"]["entity_type"], c2["subject"]["display_name"]) == ("entity", "stranger")
    assert any_store.get_entity("stranger") is None  # claims never register entities


def test_two_phase_loading_resolves_names_from_the_store(any_store):
    assert any_store.upsert_entities_batch({"a": ("gene", "Gene A", ""), "b": ("gene", "Gene B", "")}, 1) == 2
    assert any_store.insert_bulk({}, [row("a", "b", f"c{i}") for i in range(3)], 0) == 3
    assert {c["object"]["display_name"] for c in any_store.claims_for("a")} == {"Gene B"}


def test_the_table_entry_wins_over_the_stored_entity(store):
    store.upsert_entity("x", "gene", "Stored Name")
    store.insert_bulk({"x": ("other", "Table Name", "")}, [row("x", "y")], 0)
    assert store.get_claim("c1")["subject"]["display_name"] == "Table Name"
    assert store.get_entity("x")["name"] == "Stored Name"  # the stored record keeps its name


def test_duplicate_claim_ids_are_counted_once(any_store):
    rows = [row(claim_id="dup"), row(claim_id="dup"), row(claim_id="other")]
    assert any_store.insert_bulk({}, rows, 0) == 2
    assert any_store.insert_bulk({}, rows, 0) == 0


def test_positions_that_are_not_read_may_hold_anything(store):
    class Unreadable:
        def __getattribute__(self, name):
            raise AssertionError("position was read")

    assert store.insert_bulk({}, [row(filler=Unreadable())], 0) == 1


class RecordingRow:
    """A row object that is not a tuple or list; it records which positions were read."""

    def __init__(self, items):
        self.items, self.read = list(items), []

    def __getitem__(self, i):
        self.read.append(i)
        return self.items[i]


def test_rows_are_read_by_index_at_exactly_the_listed_positions(any_store):
    r = RecordingRow(row())
    assert any_store.insert_bulk({}, [r], 0) == 1
    assert r.read == [0, 1, 2, 3, 4, 5, 6, 7, 8, 14]


@pytest.mark.parametrize("shape", [list, tuple, RecordingRow])
@pytest.mark.parametrize("length", [15, 16, 20])
def test_rows_of_at_least_15_items_of_any_indexable_kind_are_accepted(store, shape, length):
    items = list(row()) + [None] * max(0, length - 16)
    assert store.insert_bulk({}, [shape(items[:length])], 0) == 1


def test_integer_confidence_is_accepted(store):
    store.insert_bulk({}, [row(confidence=1)], 0)
    assert store.get_claim("c1")["confidence"] == 1.0


# ---- element errors: raised before anything is stored ------------------------------------------------------


GOOD_ENTITIES = {"e1": ("gene", "E1", "")}


@pytest.mark.parametrize("entities, rows, error", [
    ({1: ("gene", "x", "")}, [], TypeError),
    ({"e": ["gene", "x", ""]}, [], TypeError),
    ({"e": ("gene", "x")}, [], IndexError),
    ({"e": ("gene", None, "")}, [], TypeError),
    ({"e": ("gene", "x", {})}, [], TypeError),
    (GOOD_ENTITIES, [row(length=14)], IndexError),
    (GOOD_ENTITIES, [row(confidence="0.5")], TypeError),
    (GOOD_ENTITIES, [row(confidence=None)], TypeError),
    (GOOD_ENTITIES, [row(timestamp=1.5)], TypeError),
    (GOOD_ENTITIES, [row(timestamp=2 ** 63)], OverflowError),
    (GOOD_ENTITIES, [row(subject=5)], TypeError),
    (GOOD_ENTITIES, [row(source_id=b"p1")], TypeError),
    (GOOD_ENTITIES, [row(claim_id="ok"), 42], TypeError),
    (GOOD_ENTITIES, [row(claim_id="ok"), RecordingRow([])], IndexError),
])
def test_bad_elements_raise_and_store_nothing(any_store, entities, rows, error):
    with pytest.raises(error):
        any_store.insert_bulk(entities, rows, 0)
    assert any_store.count_claims() == 0
    assert any_store.count_entities() == 0


def test_exceptions_from_row_indexing_propagate(store):
    class Exploding:
        def __getitem__(self, i):
            raise KeyError("boom")

    with pytest.raises(KeyError, match="boom"):
        store.insert_bulk(GOOD_ENTITIES, [Exploding()], 0)
    assert store.count_entities() == 0


@pytest.mark.parametrize("args, name", [
    (([("e", ("gene", "x", ""))], [], 0), "entities"),
    (({}, (row(),), 0), "claim_rows"),
    (({}, [], "0"), "timestamp"),
])
def test_wrong_containers_raise_type_error_naming_the_argument(any_store, args, name):
    with pytest.raises(TypeError, match=f"^argument '{name}': "):
        any_store.insert_bulk(*args)


def test_dict_and_tuple_subclasses_are_accepted(store):
    from collections import OrderedDict, namedtuple

    Entity = namedtuple("Entity", "entity_type display_name ext_ids extra")
    table = OrderedDict(e1=Entity("gene", "E One", "", "ignored"))
    assert store.upsert_entities_batch(table, 0) == 1
    assert store.get_entity("e1")["name"] == "E One"


# ---- external ids JSON ----------------------------------------------------------------------------------------


@pytest.mark.parametrize("text, expected", [
    ("", {}),
    ("{}", {}),
    ('{"hgnc": "HGNC:1"}', {"hgnc": "HGNC:1"}),
    ('{"a": "1", "b": "2"}', {"a": "1", "b": "2"}),
    ('{"a": 1}', {}),
    ('{"a": "1", "b": 2}', {}),
    ('{"a": {"b": "c"}}', {}),
    ("[1, 2]", {}),
    ('"text"', {}),
    ("not json", {}),
    ('{"a": "1"', {}),
])
def test_external_ids_json_is_read_leniently(any_store, text, expected):
    assert any_store.upsert_entities_batch({"e": ("gene", "E", text)}, 0) == 1
    assert any_store.get_entity("e")["external_ids"] == expected


# ---- entity batches -------------------------------------------------------------------------------------------


def test_upsert_entities_batch_counts_rows_not_changes(any_store):
    table = {"a": ("gene", "A", ""), "b": ("gene", "B", ""), "c": ("gene", "C", "")}
    assert any_store.upsert_entities_batch(table, 0) == 3
    assert any_store.upsert_entities_batch(table, 0) == 3
    assert any_store.count_entities("gene") == 3


def test_batch_merges_external_ids_into_existing_entities(any_store):
    any_store.upsert_entities_batch({"a": ("gene", "A", '{"x": "1", "y": "2"}')}, 0)
    any_store.upsert_entities_batch({"a": ("protein", "Other", '{"x": "9"}')}, 5)
    assert any_store.get_entity("a") == {"id": "a", "name": "A", "entity_type": "gene",
                                         "external_ids": {"x": "9", "y": "2"}, "claim_count": 0}


def test_batch_new_entity_without_name_is_named_and_found_by_its_id(store):
    store.upsert_entities_batch({"tnf_receptor": ("gene", "", "")}, 0)
    assert store.get_entity("tnf_receptor")["name"] == "tnf_receptor"
    assert [e["id"] for e in store.search_entities("receptor")] == ["tnf_receptor"]


def test_batch_skips_oversized_ids_and_types_with_a_warning(store, caplog):
    table = {"x" * 491: ("gene", "", ""), "ok": ("t" * 491, "", ""), "fine": ("gene", "Fine", "")}
    with caplog.at_level(logging.WARNING, logger=LOGGER):
        assert store.upsert_entities_batch(table, 0) == 3
    assert [e["id"] for e in store.list_entities()] == ["fine"]
    assert [r.getMessage() for r in caplog.records if r.name == LOGGER] == [
        f"Skipping entity with oversized key (491 bytes): {'x' * 80}...",
        "Skipping entity with oversized key (2 bytes): ok...",
    ]


def test_a_failing_entity_batch_stores_no_entity_and_no_claim(store):
    # LMDB refuses the empty type as a key, which ends the whole batch.
    table = {"a": ("gene", "A", ""), "b": ("", "B", "")}
    with pytest.raises(RuntimeError, match="^ProvenanceError: put entity_type_idx: "):
        store.insert_bulk(table, [row("a", "b")], 0)
    assert store.count_entities() == 0
    assert store.count_claims() == 0
    with pytest.raises(RuntimeError, match="^ProvenanceError: put entity_type_idx: "):
        store.upsert_entities_batch(table, 0)


def test_single_upsert_with_an_empty_type_still_registers_the_entity(store):
    store.upsert_entity("a", "")
    assert store.get_entity("a")["entity_type"] == ""
    assert store.count_entities() == 1


# ---- read-only stores -----------------------------------------------------------------------------------------


def test_empty_bulk_insert_succeeds_everywhere(store, ro_store):
    assert store.insert_bulk({}, [], 0) == 0
    assert ro_store.insert_bulk({}, [], 0) == 0


def test_read_only_store_refuses_entity_tables_and_drops_rows(ro_store):
    with pytest.raises(RuntimeError, match="^ReadOnlyError: store is read-only$"):
        ro_store.upsert_entities_batch({}, 0)
    with pytest.raises(RuntimeError, match="^ReadOnlyError: store is read-only$"):
        ro_store.insert_bulk(GOOD_ENTITIES, [row()], 0)
    assert ro_store.insert_bulk({}, [row()], 0) == 0
    assert ro_store.count_claims() == 0


# ---- larger loads ---------------------------------------------------------------------------------------------


def test_bulk_load_mode_loads_the_same_claims(store):
    entities = {f"e{i}": ("gene", f"Gene {i}", "") for i in range(50)}
    rows = [row(f"e{i % 50}", f"e{(i * 7) % 50}", f"c{i}", source_id=f"s{i % 3}", timestamp=i) for i in range(2000)]
    store.set_bulk_load_mode(True)
    assert store.insert_bulk(entities, rows, 0) == 2000
    store.set_bulk_load_mode(False)
    assert store.count_claims() == 2000
    assert store.count_entities() == 50
    assert len(store.claims_by_source_id("s1")) == len([r for r in rows if r[8] == "s1"])
    assert store.get_entity("e3")["claim_count"] == sum(1 for r in rows if "e3" in (r[0], r[1]))
