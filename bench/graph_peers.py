"""Betweenness peers: networkit (one thread), igraph and networkx, each given the graph the
store's own computation ran on (the nodes it scored, the adjacency between them).

Every peer is optional: one that cannot be imported is reported as unavailable. Graph
construction is not timed for the peers, only the algorithm; the store's figure includes
reading its adjacency index.
"""
from __future__ import annotations

import random
import time
from typing import Callable, Optional


def edge_list(nodes: list[str], adjacency: dict) -> list[tuple[int, int]]:
    index = {n: i for i, n in enumerate(nodes)}
    edges = []
    for u in nodes:
        iu = index[u]
        for v in adjacency.get(u, ()):
            iv = index.get(v)
            if iv is not None and iu < iv:
                edges.append((iu, iv))
    return edges


def sample_count(n: int, edges: int, sample_size: int, adaptive: bool) -> int:
    """The number of source nodes the store's sampled betweenness uses for this graph."""
    directed = 2 * edges  # the sum of the neighbour-set sizes
    if sample_size and adaptive and directed > 20001:
        e = directed // 2
        b = 0 if e > 1_500_000 else 1_500_000 // e
        return min(b + 50, sample_size, n)
    return min(sample_size, n) if sample_size else n


def sources(n: int, k: int, seed: int = 42) -> list[int]:
    return random.Random(seed).sample(range(n), k)


class Peer:
    def __init__(self, name: str, exact: Callable, sampled: Callable) -> None:
        self.name, self.exact, self.sampled = name, exact, sampled


def available(budget_seconds: float) -> tuple[list[Peer], dict[str, str]]:
    """The peers that import, and the reason for each that does not."""
    peers, missing = [], {}
    try:
        import networkit as nk
        nk.setNumberOfThreads(1)

        def nk_graph(n, edges):
            g = nk.Graph(n, weighted=False, directed=False)
            for u, v in edges:
                g.addEdge(u, v)
            return g

        def nk_exact(n, edges):
            g = nk_graph(n, edges)
            return _timed(lambda: nk.centrality.Betweenness(g, normalized=True).run())

        def nk_sampled(n, edges, k):
            g = nk_graph(n, edges)
            return _timed(lambda: nk.centrality.EstimateBetweenness(g, k, True, False).run())

        peers.append(Peer("networkit (1 thread)", nk_exact, nk_sampled))
    except Exception as e:  # noqa: BLE001 - any import failure means the peer is absent
        missing["networkit"] = type(e).__name__
    try:
        import igraph as ig

        def ig_exact(n, edges):
            g = ig.Graph(n=n, edges=edges)
            return _timed(lambda: g.betweenness(directed=False))

        def ig_sampled(n, edges, k):
            g = ig.Graph(n=n, edges=edges)
            src = sources(n, k)
            return _timed(lambda: g.betweenness(directed=False, sources=src))

        peers.append(Peer("igraph", ig_exact, ig_sampled))
    except Exception as e:  # noqa: BLE001
        missing["igraph"] = type(e).__name__
    try:
        import networkx as nx

        def nx_graph(n, edges):
            g = nx.Graph()
            g.add_nodes_from(range(n))
            g.add_edges_from(edges)
            return g

        def nx_run(g, k: Optional[int]):
            return _timed(lambda: nx.betweenness_centrality(g, k=k, seed=42))

        def nx_estimated(n, edges, k):
            # networkx is pure Python: when the whole computation would exceed the budget,
            # time a few sources and scale (Brandes costs the same per source).
            g = nx_graph(n, edges)
            pilot = min(k, 5)
            secs, _ = nx_run(g, pilot) if pilot < n else nx_run(g, None)
            if pilot >= k or pilot >= n:
                return secs, None
            if secs * k / pilot <= budget_seconds:
                return nx_run(g, k if k < n else None)
            return secs * k / pilot, "estimated"

        peers.append(Peer("networkx", lambda n, edges: nx_estimated(n, edges, n), nx_estimated))
    except Exception as e:  # noqa: BLE001
        missing["networkx"] = type(e).__name__
    return peers, missing


def _timed(fn: Callable) -> tuple[float, Optional[str]]:
    """(seconds, note): the note marks a figure that was not measured whole."""
    t = time.perf_counter()
    fn()
    return time.perf_counter() - t, None


def check_exact_against_igraph(scores: dict[str, float], nodes: list[str], edges) -> Optional[str]:
    """The store's exact scores against igraph's: store score = 4 × undirected betweenness
    / (n (n-1) (n-2)). Returns a description of the first disagreement, or None."""
    try:
        import igraph as ig
    except Exception:  # noqa: BLE001
        return None
    n = len(nodes)
    if n < 3:
        return None
    ref = ig.Graph(n=n, edges=edges).betweenness(directed=False)
    scale = 4.0 / (n * (n - 1) * (n - 2))
    for i, node in enumerate(nodes):
        want = min(1.0, ref[i] * scale)
        got = scores[node]
        if abs(got - want) > 1e-9 + 1e-6 * abs(want):
            return f"betweenness of {node}: store {got!r}, igraph-derived {want!r}"
    return None
