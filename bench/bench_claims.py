#!/usr/bin/env python3
"""Claim write and lookup throughput on the persistent store.

Reads the TSV written by gen_claims.py (generated on the fly when --tsv is not
given) and reports:
  insert_claims_batch  claims/s, normal mode and bulk-load mode (conversion included)
  insert_claim         claims/s (one synchronous commit per claim)
  claims_for           calls/s over entities drawn from the data set
  get_claim            calls/s over claim ids drawn from the data set

Usage:
  PYTHONPATH=build/dev python3 bench/bench_claims.py --n 100000
  PYTHONPATH=build/dev python3 bench/bench_claims.py --quick
  PYTHONPATH=build/dev python3 bench/bench_claims.py --tsv claims.tsv --n 1000000
"""
import argparse
import os
import random
import shutil
import subprocess
import sys
import tempfile
import time

import zorlet_native

GEN = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "shared", "bench", "gen_claims.py")


class Status:
    __slots__ = ("value",)

    def __init__(self, value):
        self.value = value


class Entity:
    __slots__ = ("id", "entity_type", "display_name", "external_ids")

    def __init__(self, id, entity_type):
        self.id, self.entity_type, self.display_name, self.external_ids = id, entity_type, "", None


class Predicate:
    __slots__ = ("id", "predicate_type")

    def __init__(self, id, predicate_type):
        self.id, self.predicate_type = id, predicate_type


class Provenance:
    __slots__ = ("source_type", "source_id", "method", "chain", "model_version", "organization", "project",
                 "agent_id", "source_version", "labels")

    def __init__(self, source_type, source_id):
        self.source_type, self.source_id = source_type, source_id
        self.method = self.model_version = self.organization = self.project = None
        self.agent_id = self.source_version = None
        self.chain, self.labels = [], {}


class Claim:
    __slots__ = ("claim_id", "content_id", "subject", "predicate", "object", "confidence", "timestamp",
                 "provenance", "payload", "status", "namespace", "expires_at")


ACTIVE = Status("active")


def load(path, n):
    claims = []
    with open(path) as f:
        for line in f:
            if len(claims) >= n:
                break
            (cid, content, s, st, o, ot, p, pt, conf, srct, src, ts, ns) = line.rstrip("\n").split("\t")
            c = Claim()
            c.claim_id, c.content_id = cid, content
            # Lookups normalise the id they are asked about and writes store ids as
            # given, so the entities are stored in normal form to be findable.
            c.subject, c.object = Entity(s.lower(), st), Entity(o.lower(), ot)
            c.predicate = Predicate(p, pt)
            c.confidence, c.timestamp = float(conf), int(ts)
            c.provenance = Provenance(srct, src)
            c.payload, c.status, c.namespace, c.expires_at = None, ACTIVE, ns, 0
            claims.append(c)
    return claims


def rate(count, seconds):
    return count / seconds if seconds > 0 else float("inf")


def timed(fn):
    """Result, wall seconds and CPU seconds of this process (on a shared machine
    the CPU figure is the steadier one)."""
    t0, c0 = time.perf_counter(), time.process_time()
    result = fn()
    return result, time.perf_counter() - t0, time.process_time() - c0


def report(label, count, wall, cpu, unit="claims/s", extra=""):
    print(f"{label:<27}: {rate(count, wall):10.0f} {unit} wall, {rate(count, cpu):10.0f} per CPU-second{extra}")


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--n", type=int, default=100000, help="claims to load (default 100000)")
    ap.add_argument("--tsv", help="claims file from gen_claims.py (generated when absent)")
    ap.add_argument("--single", type=int, default=2000, help="claims for the insert_claim measure")
    ap.add_argument("--lookups", type=int, default=20000, help="get_claim calls (claims_for gets a tenth)")
    ap.add_argument("--budget", type=float, default=10.0, help="seconds at most for the claims_for measure")
    ap.add_argument("--quick", action="store_true", help="small sizes, for a smoke run")
    ap.add_argument("--dir", help="where to put the stores (a temporary directory by default)")
    args = ap.parse_args()
    if args.quick:
        args.n, args.single, args.lookups = 5000, 200, 2000

    work = tempfile.mkdtemp(prefix="bench_claims_", dir=args.dir)
    try:
        tsv = args.tsv
        if not tsv:
            tsv = os.path.join(work, "claims.tsv")
            subprocess.run([sys.executable, GEN, str(args.n), "100000", tsv], check=True)
        claims = load(tsv, args.n)
        n = len(claims)
        print(f"claims: {n} from {tsv}")

        # Batch, normal mode (kept for the lookups below).
        normal = zorlet_native.NativeStore(os.path.join(work, "normal"))
        stored, secs, cpu = timed(lambda: normal.insert_claims_batch(claims))
        assert stored == n, stored
        report("insert_claims_batch normal", n, secs, cpu, extra=f"  ({secs:.2f} s)")

        bulk = zorlet_native.NativeStore(os.path.join(work, "bulk"))
        bulk.set_bulk_load_mode(True)
        stored, secs, cpu = timed(lambda: bulk.insert_claims_batch(claims))
        assert stored == n, stored
        report("insert_claims_batch bulk", n, secs, cpu, extra=f"  ({secs:.2f} s)")
        bulk.close()

        single = zorlet_native.NativeStore(os.path.join(work, "single"))
        some = claims[: args.single]
        _, secs, cpu = timed(lambda: [single.insert_claim(c) for c in some])
        report("insert_claim", len(some), secs, cpu, extra=f"  ({len(some)} claims, one commit each)")
        single.close()

        # Entities drawn uniformly from the distinct ids. The data set's
        # "same_as" claims merge many popular entities into one alias group,
        # and claims_for answers for the whole group, so calls differ widely
        # in size: returned claims per second is the steadier figure.
        rng = random.Random(1)
        distinct = sorted({c.subject.id for c in claims} | {c.object.id for c in claims})
        def measure_claims_for(label, entities):
            calls = returned = 0
            t0, c0 = time.perf_counter(), time.process_time()
            while entities and calls < max(1, args.lookups // 10) and time.perf_counter() - t0 < args.budget:
                returned += len(normal.claims_for(rng.choice(entities)))
                calls += 1
            secs, cpu = time.perf_counter() - t0, time.process_time() - c0
            if calls:
                report(label, calls, secs, cpu, unit="calls/s ",
                       extra=f"  ({rate(returned, secs):.0f} claims/s returned, {returned / calls:.0f} per call)")

        measure_claims_for("claims_for", distinct)
        alone = [e for e in rng.sample(distinct, min(len(distinct), 5000))
                 if len(normal.get_alias_group_readonly(e)) == 1]
        measure_claims_for("claims_for, no alias group", alone)
        ids = [rng.choice(claims).claim_id for _ in range(args.lookups)]
        _, secs, cpu = timed(lambda: [normal.get_claim(i) for i in ids])
        report("get_claim", len(ids), secs, cpu, unit="calls/s ")
        normal.close()
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
