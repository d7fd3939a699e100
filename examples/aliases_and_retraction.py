"""Alias groups from same_as claims, retraction and status changes."""
from claims import claim
from zorlet_native import NativeStore

store = NativeStore.in_memory()
store.insert_claims_batch([
    claim("c1", "tnf-alpha", "activates", "nfkb1", source="pmid:1"),
    claim("c2", "tnf", "same_as", "tnf-alpha", source="hgnc"),
    claim("c3", "tnf", "causes", "inflammation", source="pmid:2", otype="process"),
])
# Lookups normalise the asked id ("TNF-α" -> "tnf-alpha") and expand it to its alias group.
print("group of TNF-α:", sorted(store.get_alias_group_readonly("TNF-α")))
print("claims for TNF-α:", [c["claim_id"] for c in store.claims_for("TNF-α")])

store.retract_claim("c3")
print("after retracting c3:", [c["claim_id"] for c in store.claims_for("tnf")])
store.update_claim_status("c1", "verified")
fetched = store.get_claim("c1")
assert fetched is not None
print("c1 status:", fetched["status"])
print("retracted from pmid:1:", store.retract_source("pmid:1"))
