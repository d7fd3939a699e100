"""The benchmark data set, in the shapes each scenario hands to a store.

`prepare()` turns the generator's TSV into `data.tsv` (lower-cased ids, because lookups
normalise the ids they are asked about and writes store ids as given) with two extra
columns holding the original spelling as display name, and writes `plan.json`: the query
sets every lookup, analytics and graph scenario runs. Everything is derived from the
generator's fixed seed, so two runs with the same sizes ask the same questions.

data.tsv columns:
  0 claim_id  1 content_id  2 subject  3 subject_type  4 object  5 object_type
  6 predicate  7 predicate_type  8 confidence  9 source_type  10 source_id
  11 timestamp  12 namespace  13 subject_name  14 object_name
"""
from __future__ import annotations

import json
import random
import sys
from collections import Counter
from dataclasses import dataclass, field
from typing import Any, Optional

CAUSAL = ["activates", "inhibits", "upregulates", "downregulates", "regulates", "promotes",
          "suppresses", "increases", "decreases", "causes", "prevents", "enables", "blocks"]
ENTITY_TS = 1_600_000_000


def prepare(raw_tsv: str, out_tsv: str, plan_path: str, n_queries: int) -> dict:
    """Normalises the generator's TSV and writes the query plan; returns the plan."""
    degree: Counter = Counter()
    parent: dict[str, str] = {}

    def find(x: str) -> str:
        while x in parent:
            x = parent[x]
        return x

    claim_ids, timestamps, sources = [], [], Counter()
    with open(raw_tsv) as src, open(out_tsv, "w") as out:
        for line in src:
            p = line.rstrip("\n").split("\t")
            s_name, o_name = p[2], p[4]
            p[2], p[4] = s_name.lower(), o_name.lower()
            out.write("\t".join(p + [s_name, o_name]) + "\n")
            s, o = p[2], p[4]
            degree[s] += 1
            if o != s:
                degree[o] += 1
            if p[6] == "same_as":
                a, b = find(s), find(o)
                if a != b:
                    parent[a] = b
            claim_ids.append(p[0])
            timestamps.append(int(p[11]))
            sources[p[10]] += 1

    grouped = {e for e in degree if find(e) != e} | set(parent.values())
    by_degree = sorted(degree, key=lambda e: (-degree[e], e))
    singletons = [e for e in by_degree if e not in grouped]
    rng = random.Random(11)

    def spread(items: list, k: int) -> list:
        if not items:
            return []
        k = min(k, len(items))
        return [items[int((i + 0.5) * len(items) / k)] for i in range(k)]

    n = len(claim_ids)
    span = max(1, min(1000, n // 20))
    ranges = []
    for start in spread(list(range(max(1, n - span))), max(1, n_queries // 10)):
        ranges.append([timestamps[start], timestamps[min(n - 1, start + span - 1)]])
    ordinary_pool = [e for e in singletons if degree[e] >= 5] or singletons
    plan = {
        "claims": n,
        "entities": len(degree),
        "alias_members": len(grouped),
        "lookup_entities": spread(singletons, n_queries),
        "analytics_entities": spread(by_degree, n_queries),
        "claim_ids": spread(claim_ids, n_queries * 10),
        "sources": spread(sorted(sources), max(1, n_queries // 10)),
        "ranges": ranges,
        "hub": singletons[0] if singletons else by_degree[0],
        "ordinary": ordinary_pool[len(ordinary_pool) // 2] if ordinary_pool else by_degree[-1],
        "contradictions": [["activates", "inhibits"], ["upregulates", "downregulates"],
                           ["promotes", "suppresses"], ["increases", "decreases"], ["causes", "prevents"]],
        "gaps": [["gene", ["activates", "inhibits", "expresses"]],
                 ["disease", ["associated_with", "treats", "causes"]],
                 ["chemical", ["targets", "binds", "inhibits"]]],
        "causal": CAUSAL,
        "seed": rng.random(),
    }
    with open(plan_path, "w") as f:
        json.dump(plan, f)
    return plan


def read_rows(path: str) -> list[list]:
    """data.tsv as lists of fields, numbers converted and repeated texts shared (as a
    loader that reads its vocabularies once would hold them)."""
    intern = sys.intern
    rows = []
    with open(path) as f:
        for line in f:
            p = line.rstrip("\n").split("\t")
            for i in (2, 3, 4, 5, 6, 7, 9, 10, 12, 13, 14):
                p[i] = intern(p[i])
            p[8] = float(p[8])
            p[11] = int(p[11])
            rows.append(p)
    return rows


def entity_table(rows: list[list]) -> dict[str, tuple[str, str, str]]:
    """{entity_id: (entity_type, display_name, ext_ids_json)} for every entity the claims name."""
    table: dict[str, tuple[str, str, str]] = {}
    for p in rows:
        if p[2] not in table:
            table[p[2]] = (p[3], p[13], "{}")
        if p[4] not in table:
            table[p[4]] = (p[5], p[14], "{}")
    return table


def bulk_rows(rows: list[list]) -> list[tuple]:
    """The 16-item rows of the bulk loader format."""
    return [(p[2], p[4], p[0], p[1], p[6], p[7], p[8], p[9], p[10], None, None, None, None, None, p[11], None)
            for p in rows]


def payload_data(i: int, p: list) -> dict:
    """The JSON payload carried by every tenth claim: a short evidence record."""
    return {"evidence": f"{p[13]} {p[6]} {p[14]} in assay {i % 97}", "pmids": [30000000 + i, 30000000 + 2 * i],
            "score": i % 1000, "curated": i % 3 == 0}


def has_payload(i: int) -> bool:
    return i % 10 == 0


# Claim objects as a user's code builds them: small classes read attribute by attribute.
@dataclass
class Status:
    value: str = "active"


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
    method: Optional[str] = None
    chain: list = field(default_factory=list)
    model_version: Optional[str] = None
    organization: Optional[str] = None
    project: Optional[str] = None
    agent_id: Optional[str] = None
    source_version: Optional[str] = None
    labels: dict = field(default_factory=dict)


@dataclass
class Payload:
    schema_ref: str
    data: Any


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
    payload: Optional[Payload]
    status: Status
    namespace: str = ""
    expires_at: int = 0


_ACTIVE = Status()


def claim_objects(rows: list[list]) -> list[Claim]:
    """Claim objects with namespaces, and a payload on every tenth claim."""
    out = []
    for i, p in enumerate(rows):
        payload = Payload("evidence/v1", payload_data(i, p)) if has_payload(i) else None
        out.append(Claim(p[0], p[1], Entity(p[2], p[3], p[13]), Predicate(p[6], p[7]), Entity(p[4], p[5], p[14]),
                         p[8], p[11], Provenance(p[9], p[10]), payload, _ACTIVE, p[12]))
    return out


# Entities for the search scenario: names drawn from a Zipf-distributed vocabulary, so
# that the most common words name about a quarter of all entities and the rarest a handful.
_SYLLABLES = ["ka", "lo", "mi", "ne", "ru", "sa", "ti", "vo", "ze", "pa", "gu", "be", "do", "fi", "ho", "ju",
              "qua", "rex", "tor", "lin", "mar", "zon", "pex", "dri", "sul", "ven", "bor", "cal", "nix", "ost"]
_SEARCH_TYPES = ["gene", "protein", "disease", "chemical", "pathway", "cell_type"]


def search_vocabulary(size: int) -> list[str]:
    rng = random.Random(5)
    words, seen = [], set()
    while len(words) < size:
        w = "".join(rng.choice(_SYLLABLES) for _ in range(rng.randint(2, 4)))
        if w not in seen:
            seen.add(w)
            words.append(w)
    return words


def search_entities(n: int, vocab_size: int = 30000) -> tuple[dict[str, tuple[str, str, str]], list[str]]:
    """({entity_id: (type, display_name, "{}")}, vocabulary ordered from most to least common)."""
    import bisect
    words = search_vocabulary(vocab_size)
    cum, acc = [], 0.0
    for r in range(vocab_size):
        acc += 1.0 / (r + 1)
        cum.append(acc)
    rng = random.Random(9)
    table = {}
    for i in range(n):
        k = rng.randint(2, 4)
        name = " ".join(words[bisect.bisect_left(cum, rng.random() * acc)] for _ in range(k))
        table[f"ent{i:07d}"] = (_SEARCH_TYPES[i % 6], name.title(), "{}")
    return table, words


def search_queries(table: dict, words: list[str], n_rare: int, n_frequent: int) -> dict[str, list[str]]:
    """Rare queries: words that name between 1 and 20 entities; frequent: the most common words."""
    counts: Counter = Counter()
    for _, name, _ in table.values():
        for w in set(name.lower().split()):
            counts[w] += 1
    rare = [w for w in reversed(words) if 1 <= counts[w] <= 20][:n_rare]
    return {"rare": rare, "frequent": words[:n_frequent]}
