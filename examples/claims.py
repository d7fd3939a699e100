"""Plain claim objects for the examples: the store reads them attribute by attribute."""
from dataclasses import dataclass, field
from typing import Any, Dict, List, Optional


@dataclass
class Entity:
    id: str
    entity_type: str
    display_name: str = ""
    external_ids: Optional[Dict[str, str]] = None


@dataclass
class Predicate:
    id: str
    predicate_type: str = "causal"


@dataclass
class Provenance:
    source_type: str = "paper"
    source_id: str = "pmid:0"
    method: Optional[str] = "nlp_extraction"
    chain: List[str] = field(default_factory=list)
    model_version: Optional[str] = None
    organization: Optional[str] = None
    project: Optional[str] = None
    agent_id: Optional[str] = None
    source_version: Optional[str] = None
    labels: Dict[str, str] = field(default_factory=dict)


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
    confidence: float = 0.8
    timestamp: int = 0
    provenance: Provenance = field(default_factory=Provenance)
    payload: Any = None
    status: Status = field(default_factory=Status)
    namespace: str = ""
    expires_at: int = 0


def claim(cid: str, s: str, p: str, o: str, source: str = "pmid:1", conf: float = 0.8, ts: int = 0,
          stype: str = "gene", otype: str = "gene") -> Claim:
    ptype = "alias" if p in ("same_as", "not_same_as") else ("causal" if p in (
        "activates", "inhibits", "causes", "prevents", "upregulates", "downregulates") else "relation")
    return Claim(cid, f"{s}|{p}|{o}", Entity(s, stype), Predicate(p, ptype), Entity(o, otype), conf, ts,
                 Provenance(source_id=source))
