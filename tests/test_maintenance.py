"""Maintenance of a persistent store: counter rebuild and backfills, the causal index,
merging another store, reader slots, statistics and compaction."""
import logging
import os
import signal
import subprocess
import sys
import textwrap
import time

import pytest

from factory import Predicate, make_claim, replace
from test_crash import child_env
from zorlet_native import NativeStore

LOGGER = "zorlet_store.backend.lmdb"


def sample_claims(n=600):
    """A mix that exercises every counter, including the keys the write path never counts:
    an empty predicate type and an empty source type."""
    claims = []
    for i in range(n):
        c = make_claim(f"c{i}", f"e{i % 23}", ["activates", "inhibits", "binds", "same_as"][i % 4],
                       f"e{(i * 7) % 23}", source_id=f"src{i % 5}", confidence=(i % 10) / 10,
                       source_type=["paper", "db", ""][i % 3], namespace=["", "ns1"][i % 2],
                       subject_type=["gene", "protein"][i % 2])
        if i % 11 == 0:
            c = replace(c, predicate=Predicate(c.predicate.id, ""))
        claims.append(c)
    return claims


ENTITIES = [("e1", "gene", "E1"), ("e2", "protein", "E2"), ("e3", "", "E3")]


def load(store, bulk):
    store.set_bulk_load_mode(bulk)
    for eid, etype, name in ENTITIES:
        store.upsert_entity(eid, etype, name)
    assert store.insert_claims_batch(sample_claims()) == 600
    store.set_bulk_load_mode(False)


def answers(store):
    """Everything the counters feed, as comparable values."""
    def rounded(rows):
        return [tuple(round(x, 9) if isinstance(x, float) else x for x in r) for r in rows]
    out = {"stats": {k: v for k, v in store.stats().items() if not k.startswith("reader")},
           "predicates": store.predicate_counts(),
           "single": sorted(store.find_single_source_entities(1)),
           "contradictions": rounded(store.find_contradictions("activates", "inhibits")),
           "gaps": store.gap_analysis("gene", ["activates", "inhibits", "binds"])}
    for e in ["e0", "e1", "e5", "e22"]:
        out[e] = (rounded(store.entity_source_counts(e)), store.entity_predicate_counts(e))
    return out


@pytest.fixture
def normal_and_bulk(tmp_path):
    normal, bulk = NativeStore(str(tmp_path / "normal")), NativeStore(str(tmp_path / "bulk"))
    load(normal, bulk=False)
    load(bulk, bulk=True)
    yield normal, bulk
    normal.close()
    bulk.close()


def test_rebuild_after_bulk_load_matches_a_normal_load(normal_and_bulk):
    normal, bulk = normal_and_bulk
    assert bulk.stats()["predicate_types"] == {} and bulk.stats()["entity_types"] == {}
    bulk.rebuild_counters()
    assert answers(bulk) == answers(normal)
    stats = normal.stats()
    assert "" not in stats["predicate_types"] and "" not in stats["source_types"]
    assert stats["entity_types"] == {"gene": 1, "protein": 1}
    # Rebuilding an up-to-date store changes nothing.
    normal.rebuild_counters()
    assert answers(normal) == answers(bulk)


def test_summary_path_after_retraction_matches_between_loads(normal_and_bulk):
    normal, bulk = normal_and_bulk
    bulk.rebuild_counters()
    for s in (normal, bulk):
        s.retract_claim("c4")
        s.retract_claim("c9")
    assert answers(bulk) == answers(normal)
    for s in (normal, bulk):
        s.set_namespace_filter(["ns1"])
    assert answers(bulk) == answers(normal)


def test_backfills_bring_a_bulk_load_up_to_a_normal_load(normal_and_bulk):
    normal, bulk = normal_and_bulk
    distinct = len(normal.predicate_counts())
    assert bulk.backfill_pred_id_counts() == distinct
    assert bulk.backfill_pred_id_counts() == distinct  # already filled: unchanged
    assert bulk.backfill_claim_summaries() == 600
    assert bulk.backfill_claim_summaries() == 0
    assert bulk.backfill_analytics_counters() == 600
    assert bulk.backfill_analytics_counters() == 0
    mine, theirs = answers(bulk), answers(normal)
    for key in ["predicates", "single", "contradictions", "gaps", "e0", "e1", "e5", "e22"]:
        assert mine[key] == theirs[key], key


def test_rebuild_after_purge_forgets_the_purged_claims(store):
    store.insert_claims_batch([make_claim(f"p{i}", "a", "binds", "b", source_id=["keep", "drop"][i % 2])
                               for i in range(10)])
    assert store.purge_source("drop") == 5
    assert [(s, n) for s, n, _ in store.entity_source_counts("a")] == [("drop", 5), ("keep", 5)]
    store.rebuild_counters()
    assert [(s, n) for s, n, _ in store.entity_source_counts("a")] == [("keep", 5)]
    assert store.predicate_counts() == {"binds": 5}
    assert store.stats()["total_claims"] == 5


def test_rebuild_causal_adj_counts_causal_claims_with_short_ids(store):
    store.set_bulk_load_mode(True)
    store.insert_claims_batch([
        make_claim("k1", "a", "causes", "b"),
        make_claim("k2", "a", "inhibits", "c"),
        make_claim("k3", "a", "binds", "c"),        # not causal
        make_claim("k4", "a", "Causes", "c"),       # case matters
        make_claim("k5", "a", "causes", "x" * 600),  # object too long for the index
    ])
    assert store.rebuild_causal_adj() == 2
    assert store.rebuild_causal_adj() == 2  # edges already there are stored once
    assert sorted(t for t, _, _ in store.outgoing_causal_edges("a", ["causes", "inhibits"])) == ["b", "c"]


# ---- merge ----

@pytest.fixture
def source_path(tmp_path):
    path = str(tmp_path / "source")
    s = NativeStore(path)
    s.upsert_entity("m1", "gene", "M One", {"hgnc": "1"})
    s.upsert_entity("m2", "gene", "M Two")
    s.insert_claims_batch([make_claim(f"m{i}", f"m{i % 3}", "activates", f"m{(i + 1) % 3}", source_id="ms")
                           for i in range(50)]
                          + [make_claim("alias", "m1", "same_as", "m2", source_id="ms")])
    s.retract_claim("m7")
    s.update_claim_status("m8", "verified")
    s.close()
    return path


def test_merge_into_an_empty_store(store, source_path):
    assert store.merge_from(source_path) == 51
    assert store.count_claims() == 51
    # The source's retraction hides the claim here too.
    assert "m7" not in [c["claim_id"] for c in store.claims_by_source_id("ms")]
    assert store.get_claim("m7")["status"] == "tombstoned"
    assert store.get_claim("m8")["status"] == "verified"
    assert store.get_entity("m1")["external_ids"] == {"hgnc": "1"}
    assert store.get_entity("m1")["name"] == "M One"
    assert sorted(store.get_alias_group_readonly("m1")) == ["m1", "m2"]
    assert store.predicate_counts() == {"activates": 50, "same_as": 1}


def test_merge_reports_what_it_did_in_the_log(store, source_path, caplog):
    with caplog.at_level(logging.INFO, logger=LOGGER):
        store.merge_from(source_path)
        store.rebuild_counters()
    assert [r.getMessage() for r in caplog.records if r.name == LOGGER] == [
        "merge_from: transferred 2 status overrides",
        f"merge_from: merged 51 claims from {source_path}",
        "rebuild_counters: processed 51 claims, 1 entity types, 2 predicate IDs",
    ]


def test_merge_twice_copies_nothing_the_second_time(store, source_path):
    store.insert_claim(make_claim("m3", "local", "binds", "other"))  # same id as a source claim
    assert store.merge_from(source_path) == 50
    assert store.get_claim("m3")["subject"]["id"] == "local"
    assert store.merge_from(source_path) == 0
    assert store.count_claims() == 51


def test_merge_applies_alias_claims_it_skips_as_present(store, source_path):
    # The target holds a claim under the id of the source's same_as claim.
    store.insert_claim(make_claim("alias", "x", "binds", "y"))
    assert store.merge_from(source_path) == 50
    assert store.get_claim("alias")["predicate"]["id"] == "binds"
    assert sorted(store.get_alias_group_readonly("m1")) == ["m1", "m2"]


def test_merged_aliases_survive_reopen(store_path, source_path):
    s = NativeStore(store_path)
    s.merge_from(source_path)
    del s  # released without close: the merge already flushed
    s = NativeStore(store_path)
    assert sorted(s.get_alias_group_readonly("m2")) == ["m1", "m2"]
    s.close()


@pytest.mark.parametrize("target, message", [
    ("missing", "ProvenanceError: merge_from: source database not found: {missing}"),
    ("self", "an environment is already opened with different options"),
])
def test_merge_refusals(store, store_path, tmp_path, target, message):
    missing = str(tmp_path / "nope")
    path = missing if target == "missing" else store_path
    with pytest.raises(RuntimeError, match="open source LMDB" if target == "self" else "not found") as info:
        store.merge_from(path)
    assert message.format(missing=missing) in str(info.value)
    assert store.count_claims() == 0


# ---- read-only stores ----

def test_read_only_store_refuses_writes_it_must_not_do(store_path, source_path):
    s = NativeStore(store_path)
    s.insert_claims_batch([make_claim(f"r{i}", "a", "causes", "b", source_id="gone" if i % 2 else "kept")
                           for i in range(400)])
    s.purge_source("gone")
    s.close()
    size = os.path.getsize(os.path.join(store_path, "data.mdb"))
    ro = NativeStore.open_read_only(store_path)
    with pytest.raises(RuntimeError, match="^ReadOnlyError: store is read-only$"):
        ro.rebuild_causal_adj()
    with pytest.raises(RuntimeError, match="^ProvenanceError: cannot merge into a read-only store$"):
        ro.merge_from(source_path)
    assert ro.compact() is False
    assert os.path.getsize(os.path.join(store_path, "data.mdb")) == size
    assert ro.count_claims() == 200
    ro.close()


# ---- reader slots ----

HOLDER = """
    import sys, time
    from zorlet_native import NativeStore
    s = NativeStore({path!r})
    s.count_claims()
    print("ready", flush=True)
    time.sleep(600)
"""


def start_holder(path):
    proc = subprocess.Popen([sys.executable, "-c", textwrap.dedent(HOLDER.format(path=path))],
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, env=child_env())
    assert proc.stdout.readline().strip() == "ready", proc.stderr.read()
    return proc


def kill(proc):
    proc.send_signal(signal.SIGKILL)
    proc.communicate()


def test_stale_reader_slot_of_a_killed_process_is_freed(store, store_path):
    store.count_claims()
    used_alone = store.reader_info()[0]
    kill(start_holder(store_path))
    assert store.reader_info() == (used_alone + 1, 512)  # the dead slot still counts
    assert store.reader_check() == 1
    assert store.reader_check() == 0
    # The freed slot is taken again: dead processes do not use up the table.
    kill(start_holder(store_path))
    assert store.reader_info() == (used_alone + 1, 512)
    assert store.reader_check() == 1


def test_stats_of_an_empty_store(store):
    assert store.stats() == {"total_claims": 0, "entity_count": 0, "entity_types": {}, "predicate_types": {},
                             "source_types": {}, "reader_slots_used": 1, "reader_slots_max": 512}
    assert list(store.stats()) == ["total_claims", "entity_count", "entity_types", "predicate_types",
                                   "source_types", "reader_slots_used", "reader_slots_max"]


def test_stats_count_claims_entities_and_types(store):
    store.upsert_entity("a", "gene", "A")
    store.insert_claims_batch([make_claim("s1", "a", "causes", "b", source_type="db"),
                               make_claim("s2", "a", "binds", "b")])
    store.retract_claim("s2")
    st = store.stats()
    assert (st["total_claims"], st["entity_count"]) == (2, 1)  # retracted claims still stored
    assert st["entity_types"] == {"gene": 1}
    assert st["predicate_types"] == {"causal": 1, "relation": 1}
    assert st["source_types"] == {"db": 1, "paper": 1}


# ---- compaction ----

def data_size(path):
    return os.path.getsize(os.path.join(path, "data.mdb"))


@pytest.fixture
def purged(store, store_path):
    store.insert_claims_batch([make_claim(f"big{i}", f"e{i % 50}", "causes", f"e{(i + 1) % 50}",
                                          source_id="bulk" if i % 10 else "keep") for i in range(20000)])
    assert store.purge_source("bulk") == 18000
    return store


def test_compaction_after_a_large_purge(purged, store_path):
    before = data_size(store_path)
    assert purged.compact() is True
    assert data_size(store_path) < before / 2
    assert sorted(os.listdir(store_path)) == ["data.mdb", "lock.mdb"]
    # Still the same store, still writable, in this process and after reopening.
    assert purged.count_claims() == 2000
    assert len(purged.claims_for("e10")) == 400
    assert purged.insert_claim(make_claim("after", "e3", "causes", "e4", source_id="keep")) is True
    purged.close()
    s = NativeStore(store_path)
    assert s.count_claims() == 2001
    assert s.get_claim("big10")["claim_id"] == "big10"
    s.close()


def test_other_processes_see_the_compacted_store(purged, store_path):
    assert purged.compact() is True
    code = f"""
        from factory import make_claim
        from zorlet_native import NativeStore
        s = NativeStore({store_path!r})
        print(s.count_claims(), s.reader_check(), flush=True)
        s.insert_claim(make_claim("child", "e1", "causes", "e2"))
        s.close()
    """
    out = subprocess.run([sys.executable, "-c", textwrap.dedent(code)], capture_output=True, text=True,
                         env=child_env(), timeout=60)
    assert out.returncode == 0, out.stderr
    # The child's reader check must not have taken this process for dead.
    assert out.stdout.split() == ["2000", "0"]
    assert purged.count_claims() == 2001
    assert purged.get_claim("child") is not None
    assert purged.insert_claim(make_claim("parent", "e1", "causes", "e2")) is True


def test_compaction_leaves_a_store_open_elsewhere_alone(purged, store_path):
    holder = start_holder(store_path)
    try:
        before = data_size(store_path)
        assert purged.compact() is False
        assert data_size(store_path) == before
        assert sorted(os.listdir(store_path)) == ["data.mdb", "lock.mdb"]
        assert purged.count_claims() == 2000
    finally:
        kill(holder)
    assert purged.compact() is True  # the holder is gone


def test_compaction_leaves_a_shared_environment_alone(purged, store_path):
    second = NativeStore(store_path)  # shares this process's environment
    assert purged.compact() is False
    second.close()
    assert purged.compact() is True


def test_compaction_clears_a_leftover_scratch_directory(purged, store_path):
    scratch = os.path.join(store_path, "compact_tmp")
    os.makedirs(scratch)
    with open(os.path.join(scratch, "data.mdb"), "wb") as f:
        f.write(b"left over")
    assert purged.compact() is True
    assert not os.path.exists(scratch)
    assert purged.count_claims() == 2000


def test_compacting_a_compact_store_reports_nothing_freed(purged, store_path):
    assert purged.compact() is True
    size = data_size(store_path)
    assert purged.compact() is False
    assert data_size(store_path) == size


def test_in_memory_store_answers_maintenance_trivially(mem_store, source_path):
    assert mem_store.compact() is False
    assert mem_store.reader_info() == (0, 0)
    assert mem_store.reader_check() == 0
    assert mem_store.stats()["reader_slots_used"] == 0 and mem_store.stats()["reader_slots_max"] == 0
    with pytest.raises(RuntimeError, match="^ProvenanceError: merge_from is only supported on LMDB backends$"):
        mem_store.merge_from(source_path)
