"""The timed phases. Each runs in its own process (bench/run.py --worker PHASE SPEC_JSON),
so that peak resident memory belongs to one ingest and the phases cannot warm each other's
caches or heaps. A phase returns a JSON-able dict; figures are lists of seconds, one per
repeat, and the parent takes the median.

A scenario whose store method is not present in the module under test is reported as
skipped, with the missing method's name.
"""
from __future__ import annotations

import gc
import json
import math
import os
import resource
import shutil
import time
from typing import Any, Callable, Iterable, Optional

import dataset
import sqlite_peer

PAGE = os.sysconf("SC_PAGE_SIZE")


def rss_bytes() -> int:
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * PAGE


def peak_bytes() -> int:
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024


def missing_methods(store_cls: Any, names: Iterable[str]) -> list[str]:
    return [n for n in names if not hasattr(store_cls, n)]


def _fresh_dir(path: str) -> None:
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(os.path.dirname(path), exist_ok=True)


# --------------------------------------------------------------------------- ingest

# Python input of each ingest kind, built without intermediate garbage so that the
# resident-memory growth measures the input itself.
def _bulk_input(path: str, limit: int) -> tuple[dict, list]:
    import sys
    intern = sys.intern
    entities: dict = {}
    rows = []
    with open(path) as f:
        for line in f:
            if limit and len(rows) >= limit:
                break
            p = line.rstrip("\n").split("\t")
            s, o = intern(p[2]), intern(p[4])
            if s not in entities:
                entities[s] = (intern(p[3]), intern(p[13]), "{}")
            if o not in entities:
                entities[o] = (intern(p[5]), intern(p[14]), "{}")
            rows.append((s, o, p[0], p[1], intern(p[6]), intern(p[7]), float(p[8]), intern(p[9]),
                         intern(p[10]), None, None, None, None, None, int(p[11]), None))
    return entities, rows


def _raw_input(path: str, limit: int) -> tuple[dict, list]:
    rows = dataset.read_rows(path)
    if limit:
        del rows[limit:]
    return dataset.entity_table(rows), rows


INGEST_METHODS = {
    "bulk_normal": ["insert_bulk"],
    "bulk_load": ["insert_bulk", "set_bulk_load_mode", "rebuild_counters"],
    "claims_batch": ["insert_claims_batch", "upsert_entities_batch"],
    "one_by_one": ["insert_claim"],
}


def ingest(job: dict) -> dict:
    """One load of one kind into a fresh target; returns seconds, claims, memory and disk."""
    kind, data, target, limit = job["kind"], job["data"], job["target"], job.get("limit", 0)
    import zorlet_native
    store_cls = zorlet_native.NativeStore
    if kind in INGEST_METHODS:
        missing = missing_methods(store_cls, INGEST_METHODS[kind])
        if missing:
            return {"skipped": "missing " + ", ".join(missing)}
    gc.collect()
    base = rss_bytes()
    if kind in ("bulk_normal", "bulk_load"):
        entities, rows = _bulk_input(data, limit)
    else:
        entities, raw = _raw_input(data, limit)
        rows = dataset.claim_objects(raw) if kind in ("claims_batch", "one_by_one") else raw
        if rows is not raw:
            del raw
    gc.collect()
    input_bytes = rss_bytes() - base
    peak_before = peak_bytes()
    n_rows = len(rows)

    if kind.startswith("sqlite"):
        path = target
        counters = kind != "sqlite_indexes"
        con = sqlite_peer.create(path, counters=counters)
        objects = kind in ("sqlite_objects", "sqlite_one_by_one")
        if objects:  # the claim-object loads register their entities beforehand, untimed
            con.execute("BEGIN")
            sqlite_peer.insert_entities(con, entities, dataset.ENTITY_TS)
            con.execute("COMMIT")
        t = time.perf_counter()
        if kind == "sqlite_one_by_one":
            stored = sqlite_peer.load_one_by_one(con, rows, entities)
        else:
            stored = sqlite_peer.load(con, rows, entities, register_entities=not objects, with_payload=objects,
                                      with_namespace=objects)
        seconds = time.perf_counter() - t
        peak_after = peak_bytes()
        sqlite_peer.checkpoint(con)
        con.close()
        disk = sqlite_peer.size_on_disk(path)
    else:
        _fresh_dir(target)
        store = store_cls(target)
        if kind == "claims_batch":
            store.upsert_entities_batch(entities, dataset.ENTITY_TS)
        t = time.perf_counter()
        if kind == "bulk_normal":
            stored = store.insert_bulk(entities, rows, dataset.ENTITY_TS)
        elif kind == "bulk_load":
            store.set_bulk_load_mode(True)
            stored = store.insert_bulk(entities, rows, dataset.ENTITY_TS)
            store.rebuild_counters()
            store.set_bulk_load_mode(False)
        elif kind == "claims_batch":
            stored = store.insert_claims_batch(rows)
        else:
            stored = sum(1 for c in rows if store.insert_claim(c))
        seconds = time.perf_counter() - t
        peak_after = peak_bytes()
        store.close()
        disk = os.path.getsize(os.path.join(target, "data.mdb"))
    return {"seconds": seconds, "claims": stored, "rows": n_rows, "input_bytes": input_bytes,
            "peak_bytes": peak_after - base, "peak_before_bytes": peak_before - base, "disk_bytes": disk}


# --------------------------------------------------------------------------- query phases

class Scenario:
    """One measured question: the store's answer and each peer's, over the same inputs."""

    def __init__(self, name: str, unit: str, inputs: list, ours: Callable, peers: dict[str, Callable],
                 count: Callable[[Any], int], key: Optional[Callable[[Any], Any]] = None) -> None:
        self.name, self.unit, self.inputs, self.ours, self.peers = name, unit, inputs, ours, peers
        self.count, self.key = count, key


def _run_all(fn: Callable, inputs: list, count: Callable) -> tuple[float, int]:
    items = 0
    t = time.perf_counter()
    for x in inputs:
        items += count(fn(x))
    return time.perf_counter() - t, items


def measure(scenarios: list[Scenario], repeat: int, check_limit: int = 50) -> dict:
    """Per scenario: seconds per repeat for the store and each peer, items per run, and a
    comparison of the answers on the first inputs (untimed)."""
    out = {}
    for sc in scenarios:
        rec: dict = {"unit": sc.unit, "ours": [], "peers": {p: [] for p in sc.peers}, "items": {}}
        for _ in range(repeat):
            secs, items = _run_all(sc.ours, sc.inputs, sc.count)
            rec["ours"].append(secs)
            rec["items"]["ours"] = items
            for name, fn in sc.peers.items():
                secs, items = _run_all(fn, sc.inputs, sc.count)
                rec["peers"][name].append(secs)
                rec["items"][name] = items
            gc.collect()
        if sc.key is not None:
            first_peer = next(iter(sc.peers.values()), None)
            if first_peer is not None:
                rec["check"] = _compare(sc, first_peer, check_limit)
        out[sc.name] = rec
    return out


def _compare(sc: Scenario, peer: Callable, limit: int) -> str:
    for x in sc.inputs[:limit]:
        a, b = sc.key(sc.ours(x)), sc.key(peer(x))
        if a != b:
            return f"differs for {x!r}: {_diff(a, b)}"
    return "same answers"


def _diff(a: Any, b: Any) -> str:
    if isinstance(a, list) and isinstance(b, list):
        if len(a) != len(b):
            return f"store {len(a)} items, peer {len(b)}"
        for x, y in zip(a, b):
            if x != y:
                return f"store {_short(x)} / peer {_short(y)}"
    return f"store {_short(a)} / peer {_short(b)}"


def _short(v: Any) -> str:
    s = repr(v)
    return s if len(s) < 300 else s[:300] + "..."


def _claims_key(claims: Optional[list]) -> list:
    return sorted(claims or [], key=lambda c: c["claim_id"])


def _close_enough(a: Any, b: Any) -> bool:
    if isinstance(a, float) or isinstance(b, float):
        return math.isclose(a, b, rel_tol=1e-9, abs_tol=1e-12)
    return a == b


class _Approx:
    """Wraps a value so that floats anywhere inside compare with a tolerance."""

    def __init__(self, v: Any) -> None:
        self.v = v

    def __eq__(self, other: object) -> bool:
        return _deep_eq(self.v, other.v if isinstance(other, _Approx) else other)

    def __repr__(self) -> str:
        return repr(self.v)


def _deep_eq(a: Any, b: Any) -> bool:
    if isinstance(a, (list, tuple)) and isinstance(b, (list, tuple)):
        return len(a) == len(b) and all(_deep_eq(x, y) for x, y in zip(a, b))
    if isinstance(a, dict) and isinstance(b, dict):
        return a.keys() == b.keys() and all(_deep_eq(a[k], b[k]) for k in a)
    return _close_enough(a, b)


def _open(job: dict) -> tuple[Any, Any, list[str]]:
    import zorlet_native
    skipped = []
    store = zorlet_native.NativeStore(job["store"]) if os.path.isdir(job["store"]) else None
    con = sqlite_peer.connect(job["sqlite"]) if os.path.exists(job["sqlite"]) else None
    if store is None:
        skipped.append("no store was loaded")
    if con is None:
        skipped.append("no SQLite peer database was loaded")
    return store, con, skipped


def _available(store: Any, scenarios: list[tuple[list[str], Callable[[], Scenario]]]) -> tuple[list, dict]:
    ready, skipped = [], {}
    for methods, build in scenarios:
        missing = [m for m in methods if not hasattr(store, m)]
        if missing:
            skipped[methods[0]] = "missing " + ", ".join(missing)
        else:
            ready.append(build())
    return ready, skipped


def lookups(job: dict) -> dict:
    plan = json.load(open(job["plan"]))
    store, con, skipped = _open(job)
    if skipped:
        return {"skipped": "; ".join(skipped)}
    q = sqlite_peer.Queries(con)
    ents, ids, srcs = plan["lookup_entities"], plan["claim_ids"], plan["sources"]
    ranges = [tuple(r) for r in plan["ranges"]]
    n_claims = len
    one = lambda _r: 1  # noqa: E731
    scenarios, skip = _available(store, [
        (["claims_for"], lambda: Scenario("claims_for", "claims/s", ents, store.claims_for,
                                          {"sqlite": q.claims_for}, n_claims, _claims_key)),
        (["get_claim"], lambda: Scenario("get_claim", "calls/s", ids, store.get_claim,
                                         {"sqlite": q.get_claim}, one, lambda c: c)),
        (["claims_by_source_id"], lambda: Scenario("claims_by_source_id", "claims/s", srcs,
                                                   store.claims_by_source_id, {"sqlite": q.claims_by_source_id},
                                                   n_claims, _claims_key)),
        (["claims_in_range"], lambda: Scenario("claims_in_range", "claims/s", ranges,
                                               lambda r: store.claims_in_range(*r),
                                               {"sqlite": lambda r: q.claims_in_range(*r)}, n_claims,
                                               _claims_key)),
        (["neighbors"], lambda: Scenario("neighbors", "calls/s", ents, store.neighbors,
                                         {"sqlite": q.neighbors}, one, sorted)),
    ])
    out = {"results": measure(scenarios, job["repeat"]), "skipped": skip}
    store.close()
    return out


def analytics(job: dict) -> dict:
    plan = json.load(open(job["plan"]))
    store, con, skipped = _open(job)
    if skipped:
        return {"skipped": "; ".join(skipped)}
    q = sqlite_peer.Queries(con)
    ents = plan["analytics_entities"]
    one = lambda _r: 1  # noqa: E731
    as_set = lambda r: sorted(r)  # noqa: E731
    by_first = lambda r: _Approx(sorted(tuple(x) for x in r))  # noqa: E731
    gaps = lambda r: sorted((e, sorted(m)) for e, m in r)  # noqa: E731
    scenarios, skip = _available(store, [
        (["predicate_counts"], lambda: Scenario(
            "predicate_counts", "calls/s", [None] * 10, lambda _x: store.predicate_counts(),
            {"sqlite GROUP BY": lambda _x: q.predicate_counts(),
             "sqlite counter table": lambda _x: q.predicate_counts_counters()}, one, lambda d: d)),
        (["entity_source_counts"], lambda: Scenario(
            "entity_source_counts", "calls/s", ents, store.entity_source_counts,
            {"sqlite GROUP BY": q.entity_source_counts, "sqlite counter table": q.entity_source_counts_counters},
            one, by_first)),
        (["entity_predicate_counts"], lambda: Scenario(
            "entity_predicate_counts", "calls/s", ents, store.entity_predicate_counts,
            {"sqlite GROUP BY": q.entity_predicate_counts,
             "sqlite counter table": q.entity_predicate_counts_counters}, one, by_first)),
        (["find_contradictions"], lambda: Scenario(
            "find_contradictions", "calls/s", [tuple(p) for p in plan["contradictions"]],
            lambda p: store.find_contradictions(*p), {"sqlite GROUP BY": lambda p: q.find_contradictions(*p)},
            one, by_first)),
        (["find_single_source_entities"], lambda: Scenario(
            "find_single_source_entities", "calls/s", [5], store.find_single_source_entities,
            {"sqlite GROUP BY": q.find_single_source_entities}, one, as_set)),
        (["gap_analysis"], lambda: Scenario(
            "gap_analysis", "calls/s", [(t, p) for t, p in plan["gaps"]], lambda a: store.gap_analysis(*a),
            {"sqlite GROUP BY": lambda a: q.gap_analysis(*a)}, one, gaps)),
    ])
    out = {"results": measure(scenarios, job["repeat"]), "skipped": skip}
    store.close()
    return out


def graph(job: dict) -> dict:
    import graph_peers
    plan = json.load(open(job["plan"]))
    store, con, skipped = _open(job)
    if skipped:
        return {"skipped": "; ".join(skipped)}
    q = sqlite_peer.Queries(con)
    repeat = job["repeat"]
    results: dict = {}
    skip: dict = {}
    hub, ordinary, causal = plan["hub"], plan["ordinary"], plan["causal"]

    def bfs_key(r):
        return sorted((c["claim_id"], d) for c, d in r)

    scenarios, s2 = _available(store, [
        (["bfs_claims"], lambda: Scenario("bfs_claims depth 2, hub", "claims/s", [hub],
                                          lambda e: store.bfs_claims(e, 2), {"sqlite": lambda e: q.bfs_claims(e, 2)},
                                          len, bfs_key)),
        (["bfs_claims"], lambda: Scenario("bfs_claims depth 2, ordinary", "claims/s", [ordinary],
                                          lambda e: store.bfs_claims(e, 2), {"sqlite": lambda e: q.bfs_claims(e, 2)},
                                          len, bfs_key)),
        (["transitive_closure"], lambda: Scenario(
            "transitive_closure depth 3, hub", "calls/s", [hub] * 10,
            lambda e: store.transitive_closure(e, causal, 3), {}, lambda _r: 1)),
        (["transitive_closure"], lambda: Scenario(
            "transitive_closure depth 3, ordinary", "calls/s", [ordinary] * 10,
            lambda e: store.transitive_closure(e, causal, 3), {}, lambda _r: 1)),
    ])
    skip.update(s2)
    results.update(measure(scenarios, repeat, check_limit=1))

    missing = missing_methods(store, ["compute_betweenness_centrality", "get_adjacency_list"])
    if missing:
        skip["compute_betweenness_centrality"] = "missing " + ", ".join(missing)
    else:
        peers, absent = graph_peers.available(job["budget"])
        for name, why in absent.items():
            skip[f"betweenness peer {name}"] = f"not importable ({why})"
        adjacency = store.get_adjacency_list()
        for label, args in (("exact", dict(sample_size=0, seed=42, adaptive=False, max_nodes=job["exact_nodes"])),
                            ("sampled", dict(sample_size=200, seed=42, adaptive=True, max_nodes=10000))):
            ours, scores = [], {}
            for _ in range(repeat):
                t = time.perf_counter()
                scores = store.compute_betweenness_centrality(**args)
                ours.append(time.perf_counter() - t)
            nodes = sorted(scores)
            edges = graph_peers.edge_list(nodes, adjacency)
            k = len(nodes) if label == "exact" else graph_peers.sample_count(len(nodes), len(edges), 200, True)
            rec = {"unit": "s", "ours": ours, "peers": {}, "notes": {},
                   "items": {"ours": len(nodes)}, "graph": f"{len(nodes)} nodes, {len(edges)} edges, {k} sources"}
            for p in peers:
                times, note = [], None
                for _ in range(repeat):
                    secs, note = p.exact(len(nodes), edges) if label == "exact" else p.sampled(len(nodes), edges, k)
                    times.append(secs)
                    if note:
                        break
                rec["peers"][p.name] = times
                if note:
                    rec["notes"][p.name] = note
            if label == "exact":
                bad = graph_peers.check_exact_against_igraph(scores, nodes, edges)
                rec["check"] = bad or "same scores as igraph"
            results[f"betweenness {label}"] = rec
    store.close()
    return {"results": results, "skipped": skip}


def search(job: dict) -> dict:
    import zorlet_native
    store_cls = zorlet_native.NativeStore
    missing = missing_methods(store_cls, ["upsert_entities_batch", "search_entities"])
    table, words = dataset.search_entities(job["entities"])
    queries = dataset.search_queries(table, words, job["rare"], job["frequent"])
    repeat = job["repeat"]
    results: dict = {}
    # Registration: the store's batch upsert against SQLite's entity table plus FTS5 index.
    ours, peer = [], []
    for _ in range(repeat):
        if not missing:
            _fresh_dir(job["store"])
            store = store_cls(job["store"])
            t = time.perf_counter()
            store.upsert_entities_batch(table, dataset.ENTITY_TS)
            ours.append(time.perf_counter() - t)
            store.close()
        con = sqlite_peer.create(job["sqlite"], counters=True, fts=True)
        t = time.perf_counter()
        con.execute("BEGIN")
        sqlite_peer.insert_entities(con, table, dataset.ENTITY_TS, fts=True)
        con.execute("COMMIT")
        peer.append(time.perf_counter() - t)
        con.close()
    if missing:
        return {"results": {}, "skipped": {"search_entities": "missing " + ", ".join(missing)}}
    results["upsert_entities_batch"] = {"unit": "entities/s", "ours": ours, "peers": {"sqlite + FTS5": peer},
                                        "items": {"ours": len(table), "sqlite + FTS5": len(table)}}
    store = store_cls(job["store"])
    q = sqlite_peer.Queries(sqlite_peer.connect(job["sqlite"]))

    def ids_if_complete(r):
        return sorted(e["id"] for e in r) if len(r) < 10 else None

    scenarios = [
        Scenario("search_entities rare token", "calls/s", queries["rare"], lambda w: store.search_entities(w, 10),
                 {"sqlite FTS5 bm25": lambda w: q.search_entities(w, 10)}, lambda _r: 1, ids_if_complete),
        Scenario("search_entities frequent token", "calls/s", queries["frequent"],
                 lambda w: store.search_entities(w, 10), {"sqlite FTS5 bm25": lambda w: q.search_entities(w, 10)},
                 lambda _r: 1, None),
    ]
    results.update(measure(scenarios, repeat))
    store.close()
    return {"results": results, "skipped": {}, "queries": queries}


PHASES = {"ingest": ingest, "lookups": lookups, "analytics": analytics, "graph": graph, "search": search}
