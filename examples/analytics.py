"""Analytics over a persistent store: counts, contradictions, single-source entities, gaps."""
import tempfile

from claims import claim
from zorlet_native import NativeStore

with tempfile.TemporaryDirectory() as tmp, NativeStore(tmp + "/store") as store:
    store.insert_claims_batch([
        claim("c1", "stat3", "activates", "il6", source="pmid:1", conf=0.9),
        claim("c2", "stat3", "activates", "il6", source="pmid:2", conf=0.7),
        claim("c3", "stat3", "inhibits", "il6", source="pmid:3", conf=0.6),
        claim("c4", "jak2", "activates", "stat3", source="pmid:1", conf=0.8),
        claim("c5", "jak2", "associated_with", "psoriasis", source="pmid:1", otype="disease"),
    ])
    print("per predicate:", store.predicate_counts())
    print("stat3 by source:", store.entity_source_counts("stat3"))
    print("stat3 by predicate:", store.entity_predicate_counts("stat3"))
    print("activates vs inhibits:", store.find_contradictions("activates", "inhibits"))
    print("single-source entities (>=2 claims):", store.find_single_source_entities(2))
    print("genes lacking expected predicates:", store.gap_analysis("gene", ["activates", "inhibits"]))
    print("stats:", store.stats())
