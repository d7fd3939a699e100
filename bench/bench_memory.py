#!/usr/bin/env python3
"""In-memory store against the persistent one: insert_claims_batch, claims_for,
predicate_counts, and the memory each claim costs.

    python3 bench/bench_memory.py                  # 100000 claims (shared-machine size)
    python3 bench/bench_memory.py 1000000          # the full run

Each backend runs in its own fresh process so the resident-set figures do not mix.
Claims are built as claim objects in batches of --batch, inserted, and dropped, so the
resident growth measured after loading is what the store itself keeps (for the
persistent store this includes the pages of the LMDB map it touched).

Lookup times are CPU time of the process (the machine may be shared); inserts
report wall-clock and CPU rates, since the persistent store also waits on its
commits.

Run with PYTHONPATH pointing at the built module (build/dev).
"""
from __future__ import annotations

import argparse
import gc
import json
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "tests"))

PREDICATES = ["activates", "inhibits", "causes", "binds", "interacts_with", "expresses", "treats",
              "associated_with", "regulates", "part_of"]
SOURCE_TYPES = ["paper", "database", "model_inference", "curation"]


def rss_bytes() -> int:
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) * 1024
    return 0


def entity_picker(rng: random.Random, n_entities: int):
    # Zipf-like popularity: a few hub entities name many claims.
    weights = [1.0 / (i + 1) ** 1.1 for i in range(n_entities)]
    names = [f"gene:e{i}" for i in range(n_entities)]
    return lambda k: rng.choices(names, weights=weights, k=k)


def claim_batches(n: int, n_entities: int, batch: int):
    from factory import make_claim
    rng = random.Random(7)
    pick = entity_picker(rng, n_entities)
    made = 0
    while made < n:
        k = min(batch, n - made)
        subjects, objects = pick(k), pick(k)
        out = []
        for i in range(k):
            cid = made + i
            pred = PREDICATES[cid % len(PREDICATES)]
            out.append(make_claim(f"c{cid}", subjects[i], pred, objects[i], content_id=f"cnt{cid % (n // 2 + 1)}",
                                  confidence=rng.random(), timestamp=1_600_000_000 + cid,
                                  source_id=f"pmid:{cid % 1000}", source_type=SOURCE_TYPES[cid % 4]))
        made += k
        yield out


def worker(backend: str, n: int, n_entities: int, batch: int, queries: int) -> dict:
    import zorlet_native
    tmp = None
    if backend == "memory":
        store = zorlet_native.NativeStore.in_memory()
    else:
        tmp = tempfile.mkdtemp(prefix="zorlet_bench_")
        store = zorlet_native.NativeStore(os.path.join(tmp, "store"))
    gc.collect()
    rss_before = rss_bytes()

    insert_s = insert_cpu = 0.0
    for claims in claim_batches(n, n_entities, batch):
        t, c = time.perf_counter(), time.process_time()
        stored = store.insert_claims_batch(claims)
        insert_s += time.perf_counter() - t
        insert_cpu += time.process_time() - c
        assert stored == len(claims), (stored, len(claims))
        del claims
    gc.collect()
    rss_after = rss_bytes()

    # Lookups ask about entities chosen uniformly, not by popularity, so a few
    # hubs with tens of thousands of claims do not swamp the per-call figure.
    rng = random.Random(11)
    asked = [f"gene:e{rng.randrange(n_entities)}" for _ in range(queries)]
    t = time.process_time()
    returned = sum(len(store.claims_for(e)) for e in asked)
    claims_for_s = time.process_time() - t

    runs = []
    for _ in range(3):
        t = time.process_time()
        counts = store.predicate_counts()
        runs.append(time.process_time() - t)
    assert sum(counts.values()) == n

    store.close()
    if tmp:
        shutil.rmtree(tmp, ignore_errors=True)
    return {
        "backend": backend,
        "insert_claims_per_s_wall": n / insert_s,
        "insert_claims_per_s_cpu": n / insert_cpu,
        "claims_for_cpu_ms": 1000 * claims_for_s / queries,
        "claims_for_avg_returned": returned / queries,
        "predicate_counts_cpu_ms": 1000 * statistics.median(runs),
        "rss_growth_per_claim_bytes": (rss_after - rss_before) / n,
    }


def main() -> None:
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("claims", nargs="?", type=int, default=100_000)
    ap.add_argument("--entities", type=int, default=0, help="default: claims / 10")
    ap.add_argument("--batch", type=int, default=50_000)
    ap.add_argument("--queries", type=int, default=1000)
    ap.add_argument("--worker", help=argparse.SUPPRESS)
    a = ap.parse_args()
    n_entities = a.entities or max(10, a.claims // 10)
    if a.worker:
        print(json.dumps(worker(a.worker, a.claims, n_entities, a.batch, a.queries)))
        return
    rows = []
    for backend in ("memory", "lmdb"):
        out = subprocess.run([sys.executable, __file__, str(a.claims), "--entities", str(n_entities), "--batch",
                              str(a.batch), "--queries", str(a.queries), "--worker", backend],
                             capture_output=True, text=True, check=True)
        rows.append(json.loads(out.stdout.strip().splitlines()[-1]))
    print(f"{a.claims} claims over {n_entities} entities, batches of {a.batch}, {a.queries} claims_for queries")
    keys = [k for k in rows[0] if k != "backend"]
    print(f"{'':30}" + "".join(f"{r['backend']:>14}" for r in rows) + f"{'memory/lmdb':>14}")
    for k in keys:
        vals = [r[k] for r in rows]
        ratio = vals[0] / vals[1] if vals[1] else float("nan")
        print(f"{k:30}" + "".join(f"{v:14.3f}" for v in vals) + f"{ratio:14.2f}")


if __name__ == "__main__":
    main()
