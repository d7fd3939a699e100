"""Load claims in bulk from plain rows, then query them."""
import tempfile

from zorlet_native import NativeStore

entities = {
    "tp53": ("gene", "TP53", '{"hgnc": "HGNC:11998"}'),
    "mdm2": ("gene", "MDM2", "{}"),
    "apoptosis": ("process", "Apoptosis", ""),
}
rows = [
    ("mdm2", "tp53", "c1", "mdm2|inhibits|tp53", "inhibits", "causal", 0.93, "paper", "pmid:100", None, None, None, None, None, 1700000000, None),
    ("tp53", "apoptosis", "c2", "tp53|promotes|apoptosis", "promotes", "causal", 0.88, "paper", "pmid:101", None, None, None, None, None, 1700000100, None),
    ("tp53", "apoptosis", "c3", "tp53|promotes|apoptosis", "promotes", "causal", 0.71, "database", "db:reactome", None, None, None, None, None, 1700000200, None),
]

with tempfile.TemporaryDirectory() as tmp, NativeStore(tmp + "/store") as store:
    print("loaded", store.insert_bulk(entities, rows, 1700000000), "claims")
    for c in store.claims_for("TP53", min_confidence=0.8):
        print(c["subject"]["display_name"], c["predicate"]["id"], c["object"]["display_name"], c["confidence"])
    print("corroboration of tp53|promotes|apoptosis:", store.corroboration_count("tp53|promotes|apoptosis"))
    print("newest:", [c["claim_id"] for c in store.most_recent_claims(2)])
    print("search 'tp53':", [e["name"] for e in store.search_entities("tp53")])
    entity = store.get_entity("tp53")
    assert entity is not None
    print("tp53 has", entity["claim_count"], "claims; external ids", entity["external_ids"])
