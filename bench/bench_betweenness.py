"""Betweenness centrality: zorlet_native against networkit (one thread), igraph
and networkx on the same random graphs.

Exact mode (sample_size=0, max_nodes=0) on G(n, m) graphs with m = 5n
undirected edges, and the default sampled mode on a large graph. Each graph
is loaded into a fresh persistent store as claims; the timed store call
includes reading the adjacency index back. Times are CPU seconds of the
process (all contenders run on one thread).

    PYTHONPATH=build/dev python3 bench/bench_betweenness.py [--sizes 2000 5000 10000] [--large 100000]

networkx is pure Python and only runs where its time stays modest
(--networkx-max nodes, exact; on the large graph 10 sources, scaled up).
"""
from __future__ import annotations

import argparse
import random
import shutil
import tempfile
import time

import zorlet_native


def random_edges(n: int, edges_per_node: int, seed: int) -> list[tuple[int, int]]:
    rng = random.Random(seed)
    target = n * edges_per_node
    seen: set[tuple[int, int]] = set()
    while len(seen) < target:
        a, b = rng.randrange(n), rng.randrange(n)
        if a != b:
            seen.add((min(a, b), max(a, b)))
    return sorted(seen)


def load_store(path: str, edges: list[tuple[int, int]]) -> zorlet_native.NativeStore:
    store = zorlet_native.NativeStore(path)
    store.set_bulk_load_mode(True)
    rows = []
    for i, (a, b) in enumerate(edges):
        rows.append([f"n{a}", f"n{b}", f"c{i}", f"k{i}", "relates_to", "relation", 0.9, "paper", "bench",
                     None, None, None, None, None, 1000, None])
        if len(rows) == 100_000:
            store.insert_bulk({}, rows, 1000)
            rows.clear()
    if rows:
        store.insert_bulk({}, rows, 1000)
    return store


def timed(fn):
    """CPU seconds of this process: every contender runs on one thread here, and
    CPU time is steadier than wall time on a shared machine."""
    start = time.process_time()
    result = fn()
    return time.process_time() - start, result


def run_networkit(n, edges, samples=None):
    try:
        import networkit as nk
    except ImportError:
        return None, None
    nk.setNumberOfThreads(1)
    g = nk.Graph(n)
    for a, b in edges:
        g.addEdge(a, b)
    if samples is None:
        algo = nk.centrality.Betweenness(g, normalized=False)
    else:
        algo = nk.centrality.EstimateBetweenness(g, samples, normalized=False, parallel=False)
    seconds, _ = timed(algo.run)
    return seconds, algo.scores()


def run_igraph(n, edges):
    try:
        import igraph
    except ImportError:
        return None, None
    g = igraph.Graph(n=n, edges=edges, directed=False)
    return timed(lambda: g.betweenness(directed=False))


def run_networkx(n, edges, k=None):
    try:
        import networkx as nx
    except ImportError:
        return None, None
    g = nx.Graph()
    g.add_nodes_from(range(n))
    g.add_edges_from(edges)
    return timed(lambda: nx.betweenness_centrality(g, k=k, normalized=False, seed=1))


def ratio(other, ours):
    return "-" if other is None else f"{other:8.3f}s  ({other / ours:5.2f}x ours)"


def check_exact(ours: dict, reference: list, n: int) -> float:
    """Largest relative score difference against the unordered-pair counts of another library."""
    # Scores are ordered-pair counts times 2 / (k (n-1) (n-2)) with k = n sources,
    # n counting only linked nodes: isolated ones are not in the store.
    linked = len(ours)
    scale = 2.0 * 2.0 / (linked * (linked - 1) * (linked - 2))
    return max(abs(ours.get(f"n{i}", 0.0) - reference[i] * scale) / max(reference[i] * scale, 1e-300)
               for i in range(n) if reference[i] > 0)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--sizes", type=int, nargs="*", default=[2000, 5000, 10000])
    ap.add_argument("--large", type=int, default=100_000, help="0 skips the sampled-mode run")
    ap.add_argument("--edges-per-node", type=int, default=5)
    ap.add_argument("--networkx-max", type=int, default=2000)
    args = ap.parse_args()

    workdir = tempfile.mkdtemp(prefix="zorlet-bench-")
    try:
        for n in args.sizes:
            edges = random_edges(n, args.edges_per_node, seed=n)
            store = load_store(f"{workdir}/g{n}", edges)
            ours, scores = timed(lambda: store.compute_betweenness_centrality(sample_size=0, max_nodes=0))
            nk_s, nk_scores = run_networkit(n, edges)
            ig_s, ig_scores = run_igraph(n, edges)
            nx_s = run_networkx(n, edges)[0] if n <= args.networkx_max else None
            print(f"exact  n={n:6d} m={len(edges):7d}  zorlet {ours:8.3f}s")
            print(f"    networkit(1 thread) {ratio(nk_s, ours)}")
            print(f"    igraph              {ratio(ig_s, ours)}")
            print(f"    networkx            {ratio(nx_s, ours)}")
            if ig_scores is not None:
                print(f"    max relative difference to igraph = {check_exact(scores, ig_scores, n):.2e}")
            store.close()

        if args.large:
            n = args.large
            edges = random_edges(n, args.edges_per_node, seed=n)
            t_load, store = timed(lambda: load_store(f"{workdir}/large", edges))
            ours, scores = timed(lambda: store.compute_betweenness_centrality())
            t_adj, _ = timed(store.get_adjacency_list)
            print(f"sampled n={n} m={len(edges)} (load {t_load:.1f}s)")
            print(f"    zorlet defaults     {ours:8.3f}s  ({len(scores)} nodes kept by the 10000-node cap; "
                  f"get_adjacency_list() into Python {t_adj:.3f}s)")
            # Like for like: 200 sources over the whole graph.
            full, _ = timed(lambda: store.compute_betweenness_centrality(sample_size=200, adaptive=False, max_nodes=0))
            print(f"    zorlet 200 sources, whole graph {full:8.3f}s")
            nk_s, _ = run_networkit(n, edges, samples=200)
            print(f"    networkit EstimateBetweenness(200 sources) {ratio(nk_s, full)}")
            nx_s = run_networkx(n, edges, k=10)[0]
            print(f"    networkx k=10 sources: {nx_s:.3f}s, so about {nx_s * 20:.0f}s for 200 "
                  f"({nx_s * 20 / full:.0f}x ours)")
            print("    igraph: no source-sampled estimate (its cutoff variant bounds path length instead)")
            store.close()
    finally:
        shutil.rmtree(workdir, ignore_errors=True)


if __name__ == "__main__":
    main()
