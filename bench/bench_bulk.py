#!/usr/bin/env python3
"""Bulk ingestion and entity search benchmarks.

    python3 bench/bench_bulk.py [--rows N] [--entities N] [--search-entities N] [--only load|search]

Loads gen_claims.py data through insert_bulk in normal and bulk-load mode, each
in its own process so that peak memory (max RSS) belongs to one load. Reports:

  extract  insert_bulk on an empty read-only store: reading the rows out of
           Python, the batched name lookup and building the claims, with no write
  load     insert_bulk on a fresh writable store: extraction plus the store write
  write    load - extract
  rebuild  rebuild_counters after a bulk-load-mode load (when available)

Search: registers --search-entities entities and times search_entities for a
frequent token (one sixth of all entities carry it) and a rare one (one entity).
"""
import argparse
import json
import os
import resource
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
GEN = os.path.join(HERE, "..", "..", "shared", "bench", "gen_claims.py")
TYPES = ["gene", "protein", "disease", "chemical", "pathway", "cell_type"]


def tsv_path(rows, entities):
    path = os.path.join(tempfile.gettempdir(), f"zorlet_bench_claims_{rows}_{entities}.tsv")
    if not os.path.exists(path):
        subprocess.run([sys.executable, GEN, str(rows), str(entities), path], check=True)
    return path


def read_rows(path):
    """The entity table and the 16-item rows a Python bulk loader produces."""
    entities, rows = {}, []
    with open(path) as f:
        for line in f:
            (claim_id, content_id, s, st, o, ot, p, pt, conf, stype, sid, ts, _ns) = line.rstrip("\n").split("\t")
            if s not in entities:
                entities[s] = (st, s.split(":", 1)[1], "{}")
            if o not in entities:
                entities[o] = (ot, o.split(":", 1)[1], "")
            rows.append((s, o, claim_id, content_id, p, pt, float(conf), stype, sid,
                         None, None, None, None, None, int(ts), None))
    return entities, rows


def peak_mib():
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024


def run_load(path, mode):
    """One load in this process; prints a JSON line."""
    from zorlet_native import NativeStore

    entities, rows = read_rows(path)
    before = peak_mib()
    result = {"mode": mode, "rows": len(rows), "entities": len(entities), "python_rows_mib": round(before)}
    with tempfile.TemporaryDirectory() as tmp:
        if mode == "extract":
            NativeStore(tmp + "/ro").close()
            s = NativeStore.open_read_only(tmp + "/ro")
            t = time.perf_counter()
            s.insert_bulk({}, rows, 0)
            result["seconds"] = time.perf_counter() - t
            s.close()
        else:
            s = NativeStore(tmp + "/s")
            if mode == "bulk":
                s.set_bulk_load_mode(True)
            t = time.perf_counter()
            n = s.insert_bulk(entities, rows, 1_600_000_000)
            result["seconds"] = time.perf_counter() - t
            assert n == len(rows), (n, len(rows))
            if mode == "bulk":
                s.set_bulk_load_mode(False)
                if hasattr(s, "rebuild_counters"):
                    t = time.perf_counter()
                    s.rebuild_counters()
                    result["rebuild_seconds"] = time.perf_counter() - t
            s.close()
            result["store_mib"] = round(os.path.getsize(tmp + "/s/data.mdb") / 2 ** 20)
    result["peak_mib"] = round(peak_mib())
    result["rows_per_second"] = round(len(rows) / result["seconds"])
    print(json.dumps(result))


def bench_search(n_entities, repeats=7):
    from zorlet_native import NativeStore

    table = {f"{TYPES[i % 6]}:E{i}": (TYPES[i % 6], f"{TYPES[i % 6]} entity E{i}", "") for i in range(n_entities)}
    with tempfile.TemporaryDirectory() as tmp:
        s = NativeStore(tmp + "/s")
        s.set_bulk_load_mode(True)
        t = time.perf_counter()
        s.upsert_entities_batch(table, 0)
        register = time.perf_counter() - t
        del table
        out = {"entities": n_entities, "register_seconds": round(register, 2)}
        for label, query in (("frequent", "gene"), ("rare", f"e{n_entities // 2}")):
            times = []
            for _ in range(repeats):
                t = time.perf_counter()
                hits = s.search_entities(query, 10)
                times.append(time.perf_counter() - t)
            assert hits, query
            out[f"{label}_ms"] = round(statistics.median(times) * 1000, 3)
        s.close()
    print(json.dumps(out))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--rows", type=int, default=100_000)
    ap.add_argument("--entities", type=int, default=100_000)
    ap.add_argument("--search-entities", type=int, default=100_000)
    ap.add_argument("--only", choices=["load", "search"])
    ap.add_argument("--child", nargs=2, metavar=("TSV", "MODE"), help=argparse.SUPPRESS)
    args = ap.parse_args()
    if args.child:
        return run_load(*args.child)
    if args.only != "search":
        path = tsv_path(args.rows, args.entities)
        results = {}
        for mode in ("extract", "normal", "bulk"):
            out = subprocess.run([sys.executable, __file__, "--child", path, mode], check=True, capture_output=True,
                                 text=True, env=dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path)))
            results[mode] = json.loads(out.stdout.strip().splitlines()[-1])
            print(out.stdout.strip())
        for mode in ("normal", "bulk"):
            write = results[mode]["seconds"] - results["extract"]["seconds"]
            print(f"{mode}: {results[mode]['rows_per_second']} rows/s, extract "
                  f"{results['extract']['seconds']:.2f} s, write {write:.2f} s, peak {results[mode]['peak_mib']} MiB")
    if args.only != "load":
        bench_search(args.search_entities)


if __name__ == "__main__":
    main()
