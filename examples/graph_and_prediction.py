"""Graph traversal, transitive closure and two-hop causal prediction."""
from claims import claim
from zorlet_native import NativeStore

CAUSAL = ["activates", "inhibits", "causes", "prevents"]

store = NativeStore.in_memory()
store.insert_claims_batch([
    claim("c1", "egfr", "activates", "kras", conf=0.9),
    claim("c2", "kras", "activates", "raf1", conf=0.8),
    claim("c3", "raf1", "activates", "mek1", conf=0.85),
    claim("c4", "egfr", "activates", "pik3ca", conf=0.7),
    claim("c5", "pik3ca", "activates", "mek1", conf=0.6),
    claim("c6", "gefitinib", "inhibits", "egfr", stype="chemical", conf=0.95),
])
print("neighbors of kras:", sorted(store.neighbors("kras")))
print("path gefitinib -> mek1 within 4:", store.path_exists("gefitinib", "mek1", 4))
print("closure from egfr:", store.transitive_closure("egfr", CAUSAL, 3))
predictions = store.predict_causal(
    "egfr", CAUSAL,
    {("activates", "activates"): "activates", ("activates", "inhibits"): "inhibits"},
    {"activates": "inhibits", "inhibits": "activates"},
    max_intermediaries=10, min_paths=1, hub_max_claims=1000)
for target, predicate, supporting, opposing, is_gap, _ in predictions:
    print(f"predicted egfr {predicate} {target}: {supporting} paths, {opposing} against, gap={is_gap}")
scores = store.compute_betweenness_centrality(sample_size=0, max_nodes=0)
print("most central:", max(scores, key=lambda k: scores[k]))
