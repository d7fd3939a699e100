"""Claim objects as users build them: plain dataclasses read attribute by attribute."""
from __future__ import annotations

import dataclasses
from dataclasses import dataclass, field
from typing import Any, Optional


@dataclass
class Status:
    value: str = "active"


@dataclass
class Entity:
    id: str
    entity_type: str = "gene"
    display_name: Optional[str] = ""
    external_ids: Any = None


@dataclass
class Predicate:
    id: str
    predicate_type: str = "relation"


@dataclass
class Provenance:
    source_type: str = "paper"
    source_id: str = "pmid:1"
    method: Optional[str] = None
    chain: Any = field(default_factory=list)
    model_version: Optional[str] = None
    organization: Optional[str] = None
    project: Optional[str] = None
    agent_id: Optional[str] = None
    source_version: Optional[str] = None
    labels: Any = field(default_factory=dict)


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
    confidence: float = 0.9
    timestamp: int = 1000
    provenance: Provenance = field(default_factory=Provenance)
    payload: Optional[Payload] = None
    status: Status = field(default_factory=Status)
    namespace: str = ""
    expires_at: int = 0


def make_claim(claim_id: str, subject: str = "a", predicate: str = "relates_to", obj: str = "b", *,
               content_id: Optional[str] = None, confidence: float = 0.9, timestamp: int = 1000,
               source_id: str = "pmid:1", source_type: str = "paper", predicate_type: Optional[str] = None,
               subject_type: str = "gene", object_type: str = "gene", namespace: str = "",
               status: str = "active", project: Optional[str] = None, chain=None, payload=None,
               expires_at: int = 0) -> Claim:
    """A claim with sensible defaults; keyword arguments override single fields."""
    from zorlet_core_predicates import CAUSAL  # noqa: F401  (kept local to avoid import cycles)
    return Claim(
        claim_id=claim_id,
        content_id=content_id if content_id is not None else f"cnt-{subject}-{predicate}-{obj}",
        subject=Entity(subject, subject_type),
        predicate=Predicate(predicate, predicate_type or ("causal" if predicate in CAUSAL else "relation")),
        object=Entity(obj, object_type),
        confidence=confidence,
        timestamp=timestamp,
        provenance=Provenance(source_type=source_type, source_id=source_id, project=project,
                              chain=list(chain or [])),
        payload=payload,
        status=Status(status),
        namespace=namespace,
        expires_at=expires_at,
    )


def replace(claim: Claim, **changes) -> Claim:
    return dataclasses.replace(claim, **changes)
