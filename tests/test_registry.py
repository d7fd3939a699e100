"""The registry of vocabularies, predicate constraints and payload schemas."""
import math

import pytest

from zorlet_native import NativeStore

EMPTY_VOCAB = {"entity_types": [], "predicate_types": [], "source_types": []}


@pytest.mark.parametrize("vocab, stored", [
    ({"entity_types": ["gene"], "predicate_types": ["activates", "binds"], "source_types": ("paper",)},
     {"entity_types": ["gene"], "predicate_types": ["activates", "binds"], "source_types": ["paper"]}),
    ({"predicate_types": ["causes"], "ignored": ["x"]},
     {"entity_types": [], "predicate_types": ["causes"], "source_types": []}),
    (42, EMPTY_VOCAB),
    ({"entity_types": "gene"}, EMPTY_VOCAB),       # a str is not a list of str
    ({"entity_types": ["gene", 7]}, EMPTY_VOCAB),  # one bad item spoils the whole map
    ({1: ["gene"]}, EMPTY_VOCAB),
])
def test_register_vocabulary_is_lenient(store, vocab, stored):
    assert store.register_vocabulary("bio", vocab) is None
    vocabularies = store.get_registered_vocabularies()
    assert vocabularies == {"bio": stored}
    assert list(vocabularies["bio"]) == ["entity_types", "predicate_types", "source_types"]


@pytest.mark.parametrize("register, get", [
    ("register_predicate", "get_predicate_constraints"),
    ("register_payload_schema", "get_payload_schemas"),
])
def test_documents_come_back_as_fresh_values_with_sorted_keys(store, register, get):
    getattr(store, register)("doc", {"b": [1, 2.5, None], "a": {"z": True, "y": "text"}})
    first = getattr(store, get)()
    assert first == {"doc": {"a": {"y": "text", "z": True}, "b": [1, 2.5, None]}}
    assert list(first["doc"]) == ["a", "b"]
    first["doc"]["a"]["y"] = "changed"
    assert getattr(store, get)()["doc"]["a"]["y"] == "text"
    getattr(store, register)("doc", 3)  # a later registration replaces the earlier one
    assert getattr(store, get)() == {"doc": 3}


@pytest.mark.parametrize("register", ["register_predicate", "register_payload_schema"])
@pytest.mark.parametrize("bad", [math.inf, -math.inf, math.nan, {"limit": math.inf}])
def test_non_finite_numbers_are_refused_with_the_readers_message(store, register, bad):
    with pytest.raises(ValueError) as info:
        getattr(store, register)("doc", bad)
    message = str(info.value)
    assert message and not message.startswith(("ProvenanceError", "JSON serialization"))
    assert store.get_predicate_constraints() == {} and store.get_payload_schemas() == {}


def test_json_dumps_errors_propagate_unchanged(store):
    with pytest.raises(TypeError, match="not JSON serializable"):
        store.register_predicate("p", {"x": object()})


def test_registrations_persist_through_close(store_path):
    s = NativeStore(store_path)
    s.register_vocabulary("bio", {"entity_types": ["gene"]})
    s.register_predicate("causes", {"transitive": True})
    s.register_payload_schema("expr/v1", {"type": "object"})
    s.close()
    s = NativeStore(store_path)
    assert s.get_registered_vocabularies()["bio"]["entity_types"] == ["gene"]
    assert s.get_predicate_constraints() == {"causes": {"transitive": True}}
    assert s.get_payload_schemas() == {"expr/v1": {"type": "object"}}
    s.close()


def test_read_only_store_ignores_registrations(store_path):
    s = NativeStore(store_path)
    s.register_predicate("kept", 1)
    s.close()
    ro = NativeStore.open_read_only(store_path)
    assert ro.register_predicate("dropped", 2) is None
    assert ro.register_payload_schema("dropped", 2) is None
    assert ro.register_vocabulary("dropped", {"entity_types": ["x"]}) is None
    assert ro.get_predicate_constraints() == {"kept": 1}
    assert ro.get_payload_schemas() == {}
    assert ro.get_registered_vocabularies() == {}
    ro.close()


def test_stubs(store):
    assert store.warm_caches() is None
    assert store.raw_query("MATCH anything", {"k": 1}) == []
    assert store.raw_query("q") == []
    assert store.raw_query(_query="q", _params=None) == []
    with pytest.raises(TypeError, match="argument '_params'"):
        store.raw_query("q", [1])
    with pytest.raises(TypeError, match="argument '_query'"):
        store.raw_query(1)
