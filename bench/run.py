#!/usr/bin/env python3
"""Benchmarks zorlet_native against the tools a user would pick instead, on one synthetic
data set, and prints one table: scenario, this system's figure, each peer's figure from
the same run, and their ratio.

    python3 bench/run.py                  # 1000000 claims over 100000 entities, 3 repeats
    python3 bench/run.py --quick          # 20000 claims, 1 repeat (what CI runs, smaller)

Every figure is the median of --repeat runs. The ratio is always zorlet ÷ peer in the
row's unit, so for rates (…/s) above 1 means zorlet is faster and for seconds or bytes
below 1 means zorlet is faster or smaller. A target column marks the goals the store is
held to. Scenarios whose store methods are not built yet are listed as skipped.

The data come from ../shared/bench/gen_claims.py beside this repository (bench/gen_claims.py
when that is absent): deterministic, Zipf-popular entities, 1000 sources, namespaces and
"same_as" claims; a tenth of the claims loaded as claim objects carry a JSON payload.
"""
from __future__ import annotations

import argparse
import datetime
import json
import os
import platform
import shutil
import statistics
import subprocess
import sys
import time

BENCH = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(BENCH)
sys.path.insert(0, BENCH)

RESULT_MARK = "@@RESULT "


# --------------------------------------------------------------------------- workers

def worker_main(phase: str, spec_json: str) -> None:
    import workers
    out = workers.PHASES[phase](json.loads(spec_json))
    sys.stdout.flush()
    print(RESULT_MARK + json.dumps(out), flush=True)


def run_worker(phase: str, job: dict, timeout: float) -> dict:
    cmd = [sys.executable, os.path.abspath(__file__), "--worker", phase, json.dumps(job)]
    try:
        proc = subprocess.run(cmd, capture_output=True, text=True, timeout=timeout)
    except subprocess.TimeoutExpired:
        return {"skipped": f"timed out after {timeout:.0f} s"}
    for line in reversed(proc.stdout.splitlines()):
        if line.startswith(RESULT_MARK):
            return json.loads(line[len(RESULT_MARK):])
    tail = (proc.stderr.strip().splitlines() or ["no output"])[-1]
    return {"skipped": f"worker failed (exit {proc.returncode}): {tail}"}


# --------------------------------------------------------------------------- preparation

def generator_path() -> str:
    shared = os.path.normpath(os.path.join(REPO, "..", "shared", "bench", "gen_claims.py"))
    return shared if os.path.exists(shared) else os.path.join(BENCH, "gen_claims.py")


def prepare_data(args, log) -> tuple[str, str, dict]:
    import dataset
    os.makedirs(args.workdir, exist_ok=True)
    stem = f"claims_{args.claims}_{args.entities}"
    raw = os.path.join(args.workdir, stem + ".raw.tsv")
    data = os.path.join(args.workdir, stem + ".tsv")
    plan_path = os.path.join(args.workdir, stem + ".plan.json")
    if not os.path.exists(raw):
        log(f"generating {args.claims} claims over {args.entities} entities")
        subprocess.run([sys.executable, generator_path(), str(args.claims), str(args.entities), raw + ".part"],
                       check=True)
        os.replace(raw + ".part", raw)
    plan = dataset.prepare(raw, data, plan_path, args.queries)
    return data, plan_path, plan


def build_floor(workdir: str, log) -> tuple[str | None, str]:
    src = os.path.join(BENCH, "lmdb_floor.cpp")
    exe = os.path.join(workdir, "lmdb_floor")
    cxx = shutil.which(os.environ.get("CXX", "g++")) or shutil.which("g++")
    if cxx is None:
        return None, "no C++ compiler"
    if not os.path.exists(exe) or os.path.getmtime(exe) < os.path.getmtime(src):
        log("building bench/lmdb_floor.cpp")
        proc = subprocess.run([cxx, "-O2", "-std=c++17", src, "-o", exe, "-llmdb"], capture_output=True, text=True)
        if proc.returncode != 0:
            return None, "build failed: " + (proc.stderr.strip().splitlines() or ["?"])[-1]
    return exe, ""


def ensure_graph_peers(log) -> None:
    for module, package in (("networkit", "networkit"), ("igraph", "igraph"), ("networkx", "networkx")):
        try:
            __import__(module)
        except ImportError:
            log(f"installing {package} from PyPI")
            subprocess.run([sys.executable, "-m", "pip", "install", "-q", package], capture_output=True)


# --------------------------------------------------------------------------- table

class Row:
    def __init__(self, section: str, scenario: str, unit: str, ours: float | None, note: str = "") -> None:
        self.section, self.scenario, self.unit, self.ours, self.note = section, scenario, unit, ours, note
        self.peers: list[tuple[str, float | None, str, str]] = []  # name, figure, target, note

    def peer(self, name: str, value: float | None, target: str = "", note: str = "") -> "Row":
        self.peers.append((name, value, target, note))
        return self


def median(xs: list[float]) -> float | None:
    return statistics.median(xs) if xs else None


def rate(items: int, seconds: float | None) -> float | None:
    if seconds is None:
        return None
    return items / seconds if seconds > 0 else float("inf")


def fmt(v: float | None, unit: str) -> str:
    if v is None:
        return "-"
    if unit == "s":
        return f"{v:.3f}" if v < 10 else f"{v:.1f}"
    if unit == "MB":
        return f"{v:,.1f}"
    if v >= 100:
        return f"{v:,.0f}"
    return f"{v:.2f}" if v < 10 else f"{v:.1f}"


def meets(ratio: float, target: str) -> bool:
    op, val = target[:2], float(target[2:])
    return ratio >= val if op == ">=" else ratio <= val


def render(rows: list[Row]) -> str:
    header = ["scenario", "unit", "zorlet", "peer", "peer figure", "ratio", "target"]
    lines = []
    for r in rows:
        first = True
        peers = r.peers or [("-", None, "", "")]
        for name, value, target, note in peers:
            ratio = r.ours / value if (r.ours is not None and value) else None
            verdict = ""
            if target and ratio is not None:
                verdict = f"{target.replace('>=', '≥').replace('<=', '≤')} {'ok' if meets(ratio, target) else 'MISSED'}"
            lines.append([f"{r.section}: {r.scenario}" + (f" ({r.note})" if r.note else "") if first else "",
                          r.unit if first else "", fmt(r.ours, r.unit) if first else "",
                          name + (f" ({note})" if note else ""), fmt(value, r.unit),
                          "-" if ratio is None else f"{ratio:.2f}", verdict])
            first = False
    widths = [max(len(str(x[i])) for x in lines + [header]) for i in range(len(header))]
    right = {2, 4, 5}

    def line(cells):
        return "  ".join(str(c).rjust(w) if i in right else str(c).ljust(w)
                         for i, (c, w) in enumerate(zip(cells, widths))).rstrip()
    out = [line(header), line(["-" * w for w in widths])]
    out += [line(x) for x in lines]
    return "\n".join(out)


# --------------------------------------------------------------------------- phases

def ingest_phase(args, data, floor_exe, rows, skipped, checks, log):
    target = lambda kind: os.path.join(args.workdir, "ingest", kind)  # noqa: E731
    sql = lambda kind: os.path.join(args.workdir, "ingest", kind + ".sqlite")  # noqa: E731
    kinds = {
        "bulk_normal": (target("bulk_normal"), 0),
        "bulk_load": (target("bulk_load"), 0),
        "claims_batch": (target("claims_batch"), 0),
        "one_by_one": (target("one_by_one"), args.one_by_one),
        "sqlite_full": (sql("full"), 0),
        "sqlite_indexes": (sql("indexes"), 0),
        "sqlite_objects": (sql("objects"), 0),
        "sqlite_one_by_one": (sql("one_by_one"), args.one_by_one),
    }
    runs: dict[str, list[dict]] = {k: [] for k in kinds}
    floor_runs: dict[str, list[dict]] = {"normal": [], "bulk": []}
    claim_bytes = None
    for rep in range(args.repeat):
        for kind, (path, limit) in kinds.items():
            log(f"ingest {kind} (run {rep + 1}/{args.repeat})")
            res = run_worker("ingest", {"kind": kind, "data": data, "target": path, "limit": limit}, args.timeout)
            if "skipped" in res:
                skipped[f"ingest {kind}"] = res["skipped"]
                continue
            runs[kind].append(res)
            if kind == "bulk_normal" and claim_bytes is None and floor_exe:
                m = subprocess.run([floor_exe, "measure", path], capture_output=True, text=True)
                if m.returncode == 0:
                    claim_bytes = json.loads(m.stdout)["claim_bytes"]
        if floor_exe:
            for mode in ("normal", "bulk"):
                fdir = os.path.join(args.workdir, "ingest", "floor_" + mode)
                shutil.rmtree(fdir, ignore_errors=True)
                os.makedirs(fdir)
                # Without a loaded store to measure, assume about half the serialised claim.
                size = int(round(claim_bytes)) if claim_bytes else 160
                log(f"lmdb floor {mode} (run {rep + 1}/{args.repeat}), {size}-byte claims")
                p = subprocess.run([floor_exe, "load", data, fdir, mode, str(size)], capture_output=True, text=True)
                if p.returncode == 0:
                    floor_runs[mode].append(json.loads(p.stdout))
                else:
                    skipped[f"lmdb floor {mode}"] = p.stderr.strip()

    def secs(kind):
        return median([r["seconds"] for r in runs[kind]])

    def claims(kind):
        return runs[kind][0]["claims"] if runs[kind] else 0

    def speed(kind):
        return rate(claims(kind), secs(kind))

    def fspeed(mode):
        fr = floor_runs[mode]
        return rate(fr[0]["claims"], median([r["seconds"] for r in fr])) if fr else None

    n = args.claims
    bulk = Row("ingest", "insert_bulk, normal mode", "claims/s", speed("bulk_normal"))
    bulk.peer("sqlite: indexes + counter tables", speed("sqlite_full"), ">=1.0")
    bulk.peer("lmdb floor, normal" + (f" ({claim_bytes:.0f} B claims)" if claim_bytes else ""), fspeed("normal"),
              ">=0.8")
    rows.append(bulk)
    bl = Row("ingest", "insert_bulk, bulk-load mode + rebuild_counters", "claims/s", speed("bulk_load"))
    bl.peer("sqlite: indexes only", speed("sqlite_indexes"), ">=1.0")
    bl.peer("zorlet insert_bulk, normal mode", speed("bulk_normal"), ">=2.0")
    bl.peer("lmdb floor, bulk", fspeed("bulk"))
    rows.append(bl)
    rows.append(Row("ingest", "insert_claims_batch, objects, 10% payloads", "claims/s", speed("claims_batch"))
                .peer("sqlite: indexes + counters, same objects' fields", speed("sqlite_objects")))
    rows.append(Row("ingest", f"insert_claim one by one, first {args.one_by_one}", "claims/s", speed("one_by_one"))
                .peer("sqlite: one transaction per claim", speed("sqlite_one_by_one")))

    mb = 1 / (1 << 20)
    for kind, label, peer_kind in (("bulk_normal", "insert_bulk normal", "sqlite_full"),
                                   ("bulk_load", "insert_bulk bulk-load", "sqlite_indexes"),
                                   ("claims_batch", "insert_claims_batch", "sqlite_objects")):
        if not runs[kind]:
            continue
        r = runs[kind][-1]
        row = Row("memory", f"{label}: peak RSS growth", "MB", r["peak_bytes"] * mb)
        row.peer("its Python input", r["input_bytes"] * mb, "<=2.0")
        if runs[peer_kind]:
            row.peer(peer_kind.replace("_", " ") + " peak RSS growth", runs[peer_kind][-1]["peak_bytes"] * mb)
        rows.append(row)
    for kind, label, peer_kind in (("bulk_normal", "insert_bulk normal", "sqlite_full"),
                                   ("bulk_load", "insert_bulk bulk-load", "sqlite_indexes"),
                                   ("claims_batch", "insert_claims_batch", "sqlite_objects")):
        if not runs[kind]:
            continue
        r = runs[kind][-1]
        peer = runs[peer_kind][-1] if runs[peer_kind] else None
        rows.append(Row("disk", f"{label}: store size", "MB", r["disk_bytes"] * mb)
                    .peer(peer_kind.replace("_", " ") + " file", peer["disk_bytes"] * mb if peer else None))
        rows.append(Row("disk", f"{label}: bytes per claim", "B/claim", r["disk_bytes"] / max(1, r["claims"]))
                    .peer(peer_kind.replace("_", " "), peer["disk_bytes"] / max(1, peer["claims"]) if peer else None))
    for kind in ("bulk_normal", "bulk_load", "claims_batch", "sqlite_full", "sqlite_indexes", "sqlite_objects"):
        if runs[kind] and runs[kind][0]["claims"] != n:
            checks.append(f"ingest {kind} stored {runs[kind][0]['claims']} of {n} claims")
    return target("claims_batch"), sql("objects")


def query_rows(section: str, res: dict, rows: list, skipped: dict, checks: list, targets: dict) -> None:
    if "skipped" in res and not isinstance(res["skipped"], dict):
        skipped[section] = res["skipped"]
        return
    for name, why in res.get("skipped", {}).items():
        skipped[f"{section} {name}"] = why
    for name, rec in res.get("results", {}).items():
        unit = rec["unit"]
        items = rec.get("items", {})

        def fig(times, who):
            m = median(times)
            if unit == "s":
                return m
            return rate(items.get(who, items.get("ours", 0)), m)
        row = Row(section, name, unit, fig(rec["ours"], "ours"), rec.get("graph", ""))
        for peer, times in rec["peers"].items():
            row.peer(peer, fig(times, peer), targets.get((name, peer), ""), rec.get("notes", {}).get(peer, ""))
        rows.append(row)
        if rec.get("check") and not rec["check"].startswith("same"):
            checks.append(f"{section} {name}: {rec['check']}")


ANALYTICS_TARGETS = {(n, "sqlite GROUP BY"): ">=20" for n in (
    "predicate_counts", "entity_source_counts", "entity_predicate_counts", "find_contradictions",
    "find_single_source_entities", "gap_analysis")}
LOOKUP_TARGETS = {("claims_for", "sqlite"): ">=2.0"}
GRAPH_TARGETS = {("betweenness exact", "igraph"): "<=1.0", ("betweenness exact", "networkit (1 thread)"): "<=1.5"}


# --------------------------------------------------------------------------- main

def main(argv: list[str] | None = None) -> int:
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--quick", action="store_true", help="20000 claims, 1 repeat, small search and graph sizes")
    ap.add_argument("--claims", type=int, help="claims to generate (default 1000000; quick 20000)")
    ap.add_argument("--entities", type=int, help="entities the claims are drawn over (default claims / 10)")
    ap.add_argument("--repeat", type=int, help="runs per figure, the median is reported (default 3; quick 1)")
    ap.add_argument("--search-entities", type=int, help="entities in the search scenario (default 1000000; "
                                                        "quick 20000)")
    ap.add_argument("--workdir", default=os.path.join("/tmp", f"zorlet_bench_{os.getuid()}"),
                    help="where data, stores and SQLite files go (default %(default)s)")
    ap.add_argument("--phases", default="ingest,lookups,analytics,graph,search",
                    help="comma-separated subset of ingest,lookups,analytics,graph,search")
    ap.add_argument("--no-install", action="store_true", help="do not pip-install missing graph peers")
    ap.add_argument("--keep", action="store_true", help="keep the stores and SQLite files afterwards")
    ap.add_argument("--worker", nargs=2, metavar=("PHASE", "JOB"), help=argparse.SUPPRESS)
    args = ap.parse_args(argv)
    if args.worker:
        worker_main(*args.worker)
        return 0

    quick = args.quick
    args.claims = args.claims or (20000 if quick else 1_000_000)
    args.entities = args.entities or max(10, args.claims // 10)
    args.repeat = args.repeat or (1 if quick else 3)
    args.search_entities = args.search_entities or (20000 if quick else 1_000_000)
    args.queries = 50 if quick else 200
    args.one_by_one = min(args.claims, 200 if quick else 2000)
    args.timeout = 900 if quick else 7200
    phases = set(args.phases.split(","))
    started = time.time()

    def log(msg: str) -> None:
        print(f"[{time.time() - started:7.1f}s] {msg}", file=sys.stderr, flush=True)

    try:
        import zorlet_native
        module = zorlet_native.__file__
    except ImportError as e:
        print(f"cannot import zorlet_native ({e}); install it (pip install .) or set PYTHONPATH to a build",
              file=sys.stderr)
        return 1
    env_path = os.path.dirname(module)
    os.environ["PYTHONPATH"] = os.pathsep.join([env_path, BENCH, os.environ.get("PYTHONPATH", "")])

    data, plan_path, plan = prepare_data(args, log)
    rows: list[Row] = []
    skipped: dict[str, str] = {}
    checks: list[str] = []
    store_dir = os.path.join(args.workdir, "ingest", "claims_batch")
    sqlite_path = os.path.join(args.workdir, "ingest", "objects.sqlite")

    if "ingest" in phases:
        floor_exe, why = build_floor(args.workdir, log)
        if not floor_exe:
            skipped["lmdb floor"] = why
        store_dir, sqlite_path = ingest_phase(args, data, floor_exe, rows, skipped, checks, log)
    job = {"store": store_dir, "sqlite": sqlite_path, "plan": plan_path, "repeat": args.repeat}
    if "lookups" in phases:
        log("lookups")
        query_rows("lookup", run_worker("lookups", job, args.timeout), rows, skipped, checks, LOOKUP_TARGETS)
    if "analytics" in phases:
        log("analytics")
        query_rows("analytics", run_worker("analytics", job, args.timeout), rows, skipped, checks,
                   ANALYTICS_TARGETS)
    if "graph" in phases:
        if not quick and not args.no_install:
            ensure_graph_peers(log)
        log("graph")
        gjob = dict(job, exact_nodes=300 if quick else 2000, budget=20 if quick else 120)
        query_rows("graph", run_worker("graph", gjob, args.timeout), rows, skipped, checks, GRAPH_TARGETS)
    if "search" in phases:
        log(f"search over {args.search_entities} entities")
        sspec = {"store": os.path.join(args.workdir, "search", "store"),
                 "sqlite": os.path.join(args.workdir, "search", "entities.sqlite"),
                 "entities": args.search_entities, "rare": 10 if quick else 20, "frequent": 3, "repeat": args.repeat}
        os.makedirs(os.path.dirname(sspec["sqlite"]), exist_ok=True)
        query_rows("search", run_worker("search", sspec, args.timeout), rows, skipped, checks, {})

    print(f"zorlet_native benchmark, {datetime.datetime.now():%Y-%m-%d %H:%M}, {platform.node()}: "
          f"{os.cpu_count()} cores, Python {platform.python_version()}, SQLite "
          f"{__import__('sqlite3').sqlite_version}")
    print(f"module {module}")
    print(f"data: {plan['claims']} claims over {plan['entities']} entities ({plan['alias_members']} in alias "
          f"groups), search over {args.search_entities} entities; median of {args.repeat} run(s)")
    print(f"command: {' '.join([os.path.basename(sys.executable)] + sys.argv)}")
    print("ratio = zorlet / peer in the row's unit (…/s: >1 is faster; s, MB, B/claim: <1 is better)")
    print()
    print(render(rows))
    if skipped:
        print("\nskipped:")
        for k, v in skipped.items():
            print(f"  {k}: {v}")
    print("\nanswer checks: " + ("store and peer gave the same answers where compared" if not checks else ""))
    for c in checks:
        print(f"  {c}")
    print(f"\ntotal {time.time() - started:.0f} s")
    if not args.keep:
        for sub in ("ingest", "search"):
            shutil.rmtree(os.path.join(args.workdir, sub), ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
