"""Predicates the write path treats as causal (the causal index)."""
CAUSAL = {
    "causes", "blocks", "enables", "inhibits", "promotes", "prevents", "activates", "regulates",
    "increases", "decreases", "suppresses", "upregulates", "downregulates",
}
