#!/usr/bin/env python3
"""Analytics and maintenance on the persistent store.

Loads the gen_claims.py data set (generated on the fly when --tsv is not given) and reports:
  each analytics query on its counter path and on its summary path (the summary path is
      forced by retracting one claim nobody asks about), as median milliseconds per call
      over popular and randomly drawn entities / predicate pairs
  rebuild_counters on a store loaded in bulk-load mode
  merge_from of the whole store into an empty one
  compact after purging a third of the sources

Usage:
  PYTHONPATH=build/dev python3 bench/bench_analytics.py --n 100000
  PYTHONPATH=build/dev python3 bench/bench_analytics.py --quick
"""
import argparse
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
from collections import Counter

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from bench_claims import GEN, load, timed  # noqa: E402

import zorlet_native  # noqa: E402


def per_call_ms(fn, args_list):
    times = []
    for args in args_list:
        t0 = time.perf_counter()
        fn(*args)
        times.append((time.perf_counter() - t0) * 1000)
    return statistics.median(times), max(times)


def query_plan(claims, rng, k):
    degree = Counter()
    for c in claims:
        degree[c.subject.id] += 1
        degree[c.object.id] += 1
    popular = [e for e, _ in degree.most_common(k)]
    every = sorted(degree)
    entities = popular + [rng.choice(every) for _ in range(k)]
    pairs = [("activates", "inhibits"), ("upregulates", "downregulates"), ("causes", "prevents"),
             ("promotes", "suppresses"), ("increases", "decreases")]
    gap_sets = [("gene", ["activates", "inhibits"]), ("protein", ["interacts_with", "binds", "expresses"]),
                ("disease", ["associated_with", "treats"])]
    return popular, entities, pairs, gap_sets


def report_queries(store, label, entities, pairs, gap_sets):
    rows = [
        ("predicate_counts", store.predicate_counts, [()] * 5),
        ("source_id_counts", store.source_id_counts, [()] * 3),
        ("entity_source_counts", store.entity_source_counts, [(e,) for e in entities]),
        ("entity_predicate_counts", store.entity_predicate_counts, [(e,) for e in entities]),
        ("find_contradictions", store.find_contradictions, pairs),
        ("find_single_source_entities", store.find_single_source_entities, [(5,)] * 3),
        ("gap_analysis", store.gap_analysis, gap_sets),
    ]
    for name, fn, args in rows:
        med, worst = per_call_ms(fn, args)
        print(f"  {label:9} {name:28}: median {med:9.2f} ms   max {worst:9.2f} ms   ({len(args)} calls)")


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--n", type=int, default=100000, help="claims to load (default 100000)")
    ap.add_argument("--tsv", help="claims file from gen_claims.py (generated when absent)")
    ap.add_argument("--entities", type=int, default=20, help="popular and as many random entities per query")
    ap.add_argument("--quick", action="store_true", help="small sizes, for a smoke run")
    ap.add_argument("--dir", help="where to put the stores (a temporary directory by default)")
    args = ap.parse_args()
    if args.quick:
        args.n, args.entities = 5000, 5

    work = tempfile.mkdtemp(prefix="bench_analytics_", dir=args.dir)
    try:
        tsv = args.tsv
        if not tsv:
            tsv = os.path.join(work, "claims.tsv")
            subprocess.run([sys.executable, GEN, str(args.n), str(max(1000, args.n // 10)), tsv], check=True)
        claims = load(tsv, args.n)
        n = len(claims)
        print(f"claims: {n} from {tsv}")
        rng = random.Random(3)
        popular, entities, pairs, gap_sets = query_plan(claims, rng, args.entities)

        path = os.path.join(work, "normal")
        store = zorlet_native.NativeStore(path)
        for e in popular:
            store.upsert_entity(e, e.split(":")[0], e)
        _, secs, _ = timed(lambda: store.insert_claims_batch(claims))
        print(f"load (normal mode)            : {secs:8.2f} s")
        print("analytics queries:")
        report_queries(store, "counters", entities, pairs, gap_sets)
        store.insert_claim(_unrelated())
        store.retract_claim("bench-unrelated")
        report_queries(store, "summaries", entities, pairs, gap_sets)
        store.close()

        bulk = zorlet_native.NativeStore(os.path.join(work, "bulk"))
        bulk.set_bulk_load_mode(True)
        _, secs, _ = timed(lambda: bulk.insert_claims_batch(claims))
        bulk.set_bulk_load_mode(False)
        print(f"load (bulk-load mode)         : {secs:8.2f} s")
        _, secs, _ = timed(bulk.rebuild_counters)
        print(f"rebuild_counters              : {secs:8.2f} s   ({n / secs:.0f} claims/s)")
        bulk.close()

        target = zorlet_native.NativeStore(os.path.join(work, "merged"))
        merged, secs, _ = timed(lambda: target.merge_from(path))
        print(f"merge_from into an empty store: {secs:8.2f} s   ({merged} claims, {merged / secs:.0f} claims/s)")
        target.close()

        store = zorlet_native.NativeStore(path)
        sources = sorted({c.provenance.source_id for c in claims})
        purged = sum(store.purge_source(s) for s in sources[::3])
        before = os.path.getsize(os.path.join(path, "data.mdb"))
        freed, secs, _ = timed(store.compact)
        after = os.path.getsize(os.path.join(path, "data.mdb"))
        print(f"compact after purging {purged} claims: {secs:6.2f} s   ({freed}; "
              f"{before / 2**20:.1f} MiB -> {after / 2**20:.1f} MiB)")
        store.close()
    finally:
        shutil.rmtree(work, ignore_errors=True)


def _unrelated():
    """A claim no query asks about; retracting it switches every query to its summary path."""
    from bench_claims import ACTIVE, Claim, Entity, Predicate, Provenance
    c = Claim()
    c.claim_id, c.content_id = "bench-unrelated", "bench-unrelated"
    c.subject, c.object = Entity("bench:x", "none"), Entity("bench:y", "none")
    c.predicate = Predicate("bench_unrelated", "relation")
    c.confidence, c.timestamp = 0.5, 0
    c.provenance = Provenance("bench", "bench")
    c.payload, c.status, c.namespace, c.expires_at = None, ACTIVE, "", 0
    return c


if __name__ == "__main__":
    main()
