#!/usr/bin/env python3
"""The main job: build a persistent claim store in ./demo_store from a realistic,
deterministic set of claims extracted from (synthetic) papers, and print what it answers."""
import random
import shutil
import sys
import time
from dataclasses import dataclass, field
from pathlib import Path
from typing import Any, Optional

from zorlet_native import NativeStore

STORE = Path(sys.argv[1] if len(sys.argv) > 1 else "demo_store")

GENES = ["TP53", "BRCA1", "EGFR", "KRAS", "MYC", "PTEN", "AKT1", "MTOR", "STAT3", "JAK2", "IL6", "TNF",
         "NFKB1", "VEGFA", "HIF1A", "CDKN2A", "ERBB2", "PIK3CA", "BCL2", "CASP3"]
DISEASES = ["breast cancer", "lung adenocarcinoma", "glioblastoma", "rheumatoid arthritis",
            "type 2 diabetes", "colorectal cancer", "psoriasis", "sepsis"]
CHEMICALS = ["gefitinib", "rapamycin", "metformin", "tofacitinib", "imatinib", "celecoxib", "bevacizumab"]
CAUSAL = ["activates", "inhibits", "upregulates", "downregulates", "causes", "prevents", "promotes",
          "suppresses", "regulates"]
OTHER = ["associated_with", "interacts_with", "treats", "targets", "expresses"]


@dataclass
class Entity:
    id: str
    entity_type: str
    display_name: str = ""
    external_ids: Any = None


@dataclass
class Predicate:
    id: str
    predicate_type: str


@dataclass
class Provenance:
    source_type: str
    source_id: str
    method: Optional[str] = "nlp_extraction"
    chain: list = field(default_factory=list)
    model_version: Optional[str] = "extractor-2.3"
    organization: Optional[str] = None
    project: Optional[str] = "oncology-kg"
    agent_id: Optional[str] = None
    source_version: Optional[str] = None
    labels: dict = field(default_factory=dict)


@dataclass
class Status:
    value: str = "active"


@dataclass
class Claim:
    claim_id: str
    content_id: str
    subject: Entity
    predicate: Predicate
    object: Entity
    confidence: float
    timestamp: int
    provenance: Provenance
    payload: Any = None
    status: Status = field(default_factory=Status)
    namespace: str = "bio"
    expires_at: int = 0


def entity_table():
    table = {}
    for g in GENES + [f"ZNF{i}" for i in range(100, 700)]:
        table[g.lower()] = ("gene", g, '{"hgnc": "%s"}' % g)
    for d in DISEASES:
        table[d.replace(" ", "_")] = ("disease", d.title(), "{}")
    for c in CHEMICALS:
        table[c] = ("chemical", c.capitalize(), "")
    return table


def claim_rows(entities, n, rng):
    ids = list(entities)
    weights = [1.0 / (i + 1) ** 0.9 for i in range(len(ids))]
    rows = []
    t0 = 1_700_000_000
    for i in range(n):
        s, o = rng.choices(ids, weights, k=2)
        if s == o:
            continue
        p = rng.choice(CAUSAL if rng.random() < 0.6 else OTHER)
        rows.append((s, o, f"clm-{i:06d}", f"cnt-{s}-{p}-{o}", p, "causal" if p in CAUSAL else "relation",
                     round(rng.uniform(0.5, 0.99), 3), rng.choice(["paper", "database", "curation"]),
                     f"pmid:{31000000 + rng.randrange(400)}", None, None, None, None, None, t0 + i * 60, None))
    return rows


def main():
    rng = random.Random(7)
    shutil.rmtree(STORE, ignore_errors=True)
    entities = entity_table()
    rows = claim_rows(entities, 20000, rng)

    with NativeStore(str(STORE)) as store:
        started = time.perf_counter()
        loaded = store.insert_bulk(entities, rows, 1_700_000_000)
        took = time.perf_counter() - started
        print(f"Loaded {loaded} claims about {len(entities)} entities in {took:.2f}s into {STORE}/")

        # Claim objects, one at a time: an alias and a claim with payload data.
        store.insert_claim(Claim("clm-alias-1", "cnt-alias-1", Entity("tp53", "gene", "TP53"),
                                 Predicate("same_as", "alias"), Entity("p53", "gene", "p53"), 0.99, 1_800_000_000,
                                 Provenance("database", "hgnc:11998")))
        print(f"Total claims: {store.count_claims()}")

        tp53 = store.claims_for("TP53", min_confidence=0.9)
        print(f"\nclaims_for('TP53', min_confidence=0.9): {len(tp53)} claims, e.g.")
        for c in tp53[:3]:
            print(f"  {c['subject']['display_name']} {c['predicate']['id']} {c['object']['display_name']}"
                  f" (conf {c['confidence']}, {c['provenance']['source_id']})")
        print(f"resolve('P53') -> {store.resolve('P53')!r}; alias group: {sorted(store.get_alias_group('p53'))}")

        print("\nsearch_entities('cancer'):", [e["name"] for e in store.search_entities("cancer", 3)])
        print("predicate_counts (top 5):",
              sorted(store.predicate_counts().items(), key=lambda kv: -kv[1])[:5])
        print("entity_source_counts('egfr')[:3]:", store.entity_source_counts("egfr")[:3])
        contra = store.find_contradictions("activates", "inhibits")[:3]
        print("find_contradictions(activates, inhibits)[:3]:", [(s, o, a, b) for s, o, a, b, _, _ in contra])

        preds = store.predict_causal("egfr", CAUSAL, {("activates", "activates"): "activates",
                                                      ("activates", "inhibits"): "inhibits"},
                                     {"activates": "inhibits", "inhibits": "activates"}, 10, 2, 100000)
        print("predict_causal('egfr')[:3]:", preds[:3])
        print("path_exists('gefitinib', 'sepsis', 2):", store.path_exists("gefitinib", "sepsis", 2))
        top = sorted(store.compute_betweenness_centrality().items(), key=lambda kv: -kv[1])[:3]
        print("betweenness (top 3):", [(k, round(v, 4)) for k, v in top])

        retracted = store.retract_source("pmid:31000001")
        print(f"\nretract_source('pmid:31000001') tombstoned {len(retracted)} claims; "
              f"visible claims for TP53 now {len(store.claims_for('TP53'))}")
        stats = store.stats()
        print("stats:", {k: stats[k] for k in ("total_claims", "entity_count", "entity_types")})
    print(f"\nStore closed; reopen it with NativeStore({str(STORE)!r}).")


if __name__ == "__main__":
    main()
