"""The SQLite peer: the same claims in one table with the same secondary indexes, the
same counter tables kept by the insert statement itself (triggers), and queries that
build the same claim and entity dicts the store returns.

One transaction, WAL, a 2 GB page cache; commits are synchronous (SQLite's default FULL),
as the store's are.
"""
from __future__ import annotations

import os
import sqlite3
from typing import Iterable, Optional

COLUMNS = ("claim_id, content_id, subject, subject_type, subject_name, predicate, predicate_type, "
           "object, object_type, object_name, confidence, source_type, source_id, timestamp, status, "
           "namespace, payload_schema, payload_json")
STATUS = ["active", "archived", "tombstoned", "provenance_degraded", "verified", "verification_failed", "disputed"]

SCHEMA = """
CREATE TABLE claims(
  seq INTEGER PRIMARY KEY,
  claim_id TEXT NOT NULL, content_id TEXT NOT NULL,
  subject TEXT NOT NULL, subject_type TEXT, subject_name TEXT,
  predicate TEXT NOT NULL, predicate_type TEXT,
  object TEXT NOT NULL, object_type TEXT, object_name TEXT,
  confidence REAL, source_type TEXT, source_id TEXT NOT NULL,
  timestamp INTEGER, status INTEGER NOT NULL DEFAULT 0, namespace TEXT,
  payload_schema TEXT, payload_json TEXT);
CREATE UNIQUE INDEX claims_claim_id ON claims(claim_id);
CREATE INDEX claims_content ON claims(content_id);
CREATE INDEX claims_subject ON claims(subject);
CREATE INDEX claims_object ON claims(object);
CREATE INDEX claims_source ON claims(source_id);
CREATE INDEX claims_predicate ON claims(predicate);
CREATE INDEX claims_timestamp ON claims(timestamp);
CREATE INDEX claims_namespace ON claims(namespace);
CREATE TABLE entities(id TEXT PRIMARY KEY, entity_type TEXT, name TEXT, external_ids TEXT, created_at INTEGER)
  WITHOUT ROWID;
CREATE INDEX entities_type ON entities(entity_type);
CREATE TABLE aliases(member TEXT PRIMARY KEY, rep TEXT NOT NULL) WITHOUT ROWID;
CREATE INDEX aliases_rep ON aliases(rep);
"""

COUNTERS = """
CREATE TABLE pred_type_counts(k TEXT PRIMARY KEY, n INTEGER NOT NULL) WITHOUT ROWID;
CREATE TABLE pred_id_counts(k TEXT PRIMARY KEY, n INTEGER NOT NULL) WITHOUT ROWID;
CREATE TABLE src_type_counts(k TEXT PRIMARY KEY, n INTEGER NOT NULL) WITHOUT ROWID;
CREATE TABLE entity_type_counts(k TEXT PRIMARY KEY, n INTEGER NOT NULL) WITHOUT ROWID;
CREATE TABLE entity_pred_counts(entity TEXT, predicate TEXT, n INTEGER NOT NULL,
  PRIMARY KEY(entity, predicate)) WITHOUT ROWID;
CREATE TABLE entity_src_counts(entity TEXT, source_id TEXT, n INTEGER NOT NULL, conf_sum REAL NOT NULL,
  PRIMARY KEY(entity, source_id)) WITHOUT ROWID;
CREATE TABLE pred_pair_counts(predicate TEXT, subject TEXT, object TEXT, n INTEGER NOT NULL,
  conf_sum REAL NOT NULL, PRIMARY KEY(predicate, subject, object)) WITHOUT ROWID;
CREATE TRIGGER claims_counters AFTER INSERT ON claims BEGIN
  INSERT INTO pred_type_counts VALUES(NEW.predicate_type, 1) ON CONFLICT DO UPDATE SET n = n + 1;
  INSERT INTO pred_id_counts VALUES(NEW.predicate, 1) ON CONFLICT DO UPDATE SET n = n + 1;
  INSERT INTO src_type_counts VALUES(NEW.source_type, 1) ON CONFLICT DO UPDATE SET n = n + 1;
  INSERT INTO entity_pred_counts VALUES(NEW.subject, NEW.predicate, 1) ON CONFLICT DO UPDATE SET n = n + 1;
  INSERT INTO entity_pred_counts SELECT NEW.object, NEW.predicate, 1 WHERE NEW.object <> NEW.subject
    ON CONFLICT DO UPDATE SET n = n + 1;
  INSERT INTO entity_src_counts VALUES(NEW.subject, NEW.source_id, 1, NEW.confidence)
    ON CONFLICT DO UPDATE SET n = n + 1, conf_sum = conf_sum + excluded.conf_sum;
  INSERT INTO entity_src_counts SELECT NEW.object, NEW.source_id, 1, NEW.confidence WHERE NEW.object <> NEW.subject
    ON CONFLICT DO UPDATE SET n = n + 1, conf_sum = conf_sum + excluded.conf_sum;
  INSERT INTO pred_pair_counts VALUES(NEW.predicate, NEW.subject, NEW.object, 1, NEW.confidence)
    ON CONFLICT DO UPDATE SET n = n + 1, conf_sum = conf_sum + excluded.conf_sum;
END;
CREATE TRIGGER entities_counters AFTER INSERT ON entities BEGIN
  INSERT INTO entity_type_counts VALUES(NEW.entity_type, 1) ON CONFLICT DO UPDATE SET n = n + 1;
END;
"""

FTS = """
CREATE VIRTUAL TABLE entity_fts USING fts5(id, name, tokenize = 'unicode61');
"""


def connect(path: str) -> sqlite3.Connection:
    con = sqlite3.connect(path, isolation_level=None)
    con.execute("PRAGMA journal_mode=WAL")
    con.execute("PRAGMA cache_size=-2000000")  # 2 GB, in KiB
    return con


def create(path: str, counters: bool, fts: bool = False) -> sqlite3.Connection:
    for suffix in ("", "-wal", "-shm"):
        if os.path.exists(path + suffix):
            os.remove(path + suffix)
    con = connect(path)
    con.executescript(SCHEMA)
    if counters:
        con.executescript(COUNTERS)
    if fts:
        con.executescript(FTS)
    return con


def size_on_disk(path: str) -> int:
    return sum(os.path.getsize(path + s) for s in ("", "-wal") if os.path.exists(path + s))


def checkpoint(con: sqlite3.Connection) -> None:
    con.execute("PRAGMA wal_checkpoint(TRUNCATE)")


class _Aliases:
    """Alias groups from "same_as" claims, kept by the loader as the store keeps them."""

    def __init__(self) -> None:
        self.parent: dict[str, str] = {}

    def find(self, x: str) -> str:
        root = x
        while root in self.parent:
            root = self.parent[root]
        while x != root:
            nxt = self.parent[x]
            self.parent[x] = root
            x = nxt
        return root

    def union(self, a: str, b: str) -> None:
        ra, rb = self.find(a), self.find(b)
        if ra != rb:
            self.parent[ra] = rb

    def rows(self) -> list[tuple[str, str]]:
        members = set(self.parent) | set(self.parent.values())
        return [(m, self.find(m)) for m in members]


def insert_entities(con: sqlite3.Connection, table: dict, timestamp: int, fts: bool = False) -> None:
    con.executemany("INSERT INTO entities VALUES(?, ?, ?, ?, ?) ON CONFLICT DO NOTHING",
                    ((k, v[0], v[1] or k, v[2], timestamp) for k, v in table.items()))
    if fts:
        con.executemany("INSERT INTO entity_fts(id, name) VALUES(?, ?)", ((k, v[1]) for k, v in table.items()))


def load(con: sqlite3.Connection, rows: list[list], entities: dict, register_entities: bool, with_payload: bool,
         with_namespace: bool) -> int:
    """One transaction: entities (when asked), claims (duplicate claim ids ignored, names
    and types taken from `entities`), alias groups. Returns the number of claims stored."""
    import json
    from dataset import has_payload, payload_data

    names = entities
    aliases = _Aliases()

    def claim_rows() -> Iterable[tuple]:
        for i, p in enumerate(rows):
            s, o = p[2], p[4]
            st, sn = names.get(s, ("entity", s))[:2]
            ot, on = names.get(o, ("entity", o))[:2]
            if p[6] == "same_as":
                aliases.union(s, o)
            if with_payload and has_payload(i):
                schema, pj = "evidence/v1", json.dumps(payload_data(i, p), sort_keys=True, separators=(",", ":"))
            else:
                schema, pj = None, None
            yield (p[0], p[1], s, st, sn, p[6], p[7], o, ot, on, p[8], p[9], p[10], p[11], 0,
                   p[12] if with_namespace else "", schema, pj)

    con.execute("BEGIN")
    if register_entities:
        insert_entities(con, entities, 1_600_000_000)
    con.executemany(f"INSERT OR IGNORE INTO claims({COLUMNS}) VALUES({','.join('?' * 18)})", claim_rows())
    stored = con.execute("SELECT count(*) FROM claims").fetchone()[0]
    con.executemany("INSERT OR REPLACE INTO aliases VALUES(?, ?)", aliases.rows())
    con.execute("COMMIT")
    return stored


def load_one_by_one(con: sqlite3.Connection, rows: list[list], entities: dict) -> int:
    """Autocommit: every claim its own synchronous transaction, as `insert_claim` does."""
    import json
    from dataset import has_payload, payload_data
    sql = f"INSERT OR IGNORE INTO claims({COLUMNS}) VALUES({','.join('?' * 18)})"
    n = 0
    for i, p in enumerate(rows):
        st, sn = entities.get(p[2], ("entity", p[2]))[:2]
        ot, on = entities.get(p[4], ("entity", p[4]))[:2]
        schema, pj = (("evidence/v1", json.dumps(payload_data(i, p), sort_keys=True, separators=(",", ":")))
                      if has_payload(i) else (None, None))
        cur = con.execute(sql, (p[0], p[1], p[2], st, sn, p[6], p[7], p[4], ot, on, p[8], p[9], p[10], p[11], 0,
                                p[12], schema, pj))
        n += cur.rowcount
    return n


# ---- queries building the store's result shapes ----

def claim_dict(r: tuple) -> dict:
    payload = None if r[16] is None else {"schema_ref": r[16], "data_json": r[17]}
    return {
        "claim_id": r[0],
        "content_id": r[1],
        "subject": {"id": r[2], "entity_type": r[3], "display_name": r[4], "external_ids": {}},
        "predicate": {"id": r[5], "predicate_type": r[6]},
        "object": {"id": r[7], "entity_type": r[8], "display_name": r[9], "external_ids": {}},
        "confidence": r[10],
        "provenance": {"source_type": r[11], "source_id": r[12], "method": None, "chain": [],
                       "model_version": None, "organization": None, "project": None, "agent_id": None,
                       "source_version": None, "labels": {}},
        "payload": payload,
        "timestamp": r[13],
        "status": STATUS[r[14]],
        "namespace": r[15],
        "expires_at": 0,
    }


class Queries:
    """The store's lookups, analytics and traversals answered from the SQLite tables."""

    def __init__(self, con: sqlite3.Connection) -> None:
        self.con = con

    def alias_group(self, e: str) -> list[str]:
        rep = self.con.execute("SELECT rep FROM aliases WHERE member = ?", (e,)).fetchone()
        if rep is None:
            return [e]
        return [m for (m,) in self.con.execute("SELECT member FROM aliases WHERE rep = ?", rep)]

    def _claims_of(self, members: Iterable[str]) -> list[tuple]:
        seen, out = set(), []
        for m in members:
            for r in self.con.execute(
                    f"SELECT seq, {COLUMNS} FROM claims WHERE subject = ?1 "
                    f"UNION ALL SELECT seq, {COLUMNS} FROM claims WHERE object = ?1 AND subject <> ?1", (m,)):
                if r[0] not in seen:
                    seen.add(r[0])
                    out.append(r)
        return out

    def claims_for(self, e: str) -> list[dict]:
        return [claim_dict(r[1:]) for r in self._claims_of(self.alias_group(e))]

    def get_claim(self, cid: str) -> Optional[dict]:
        r = self.con.execute(f"SELECT {COLUMNS} FROM claims WHERE claim_id = ?", (cid,)).fetchone()
        return None if r is None else claim_dict(r)

    def claims_by_source_id(self, src: str) -> list[dict]:
        return [claim_dict(r) for r in self.con.execute(f"SELECT {COLUMNS} FROM claims WHERE source_id = ?", (src,))]

    def claims_in_range(self, lo: int, hi: int) -> list[dict]:
        return [claim_dict(r) for r in
                self.con.execute(f"SELECT {COLUMNS} FROM claims WHERE timestamp BETWEEN ? AND ?", (lo, hi))]

    def neighbors(self, e: str) -> list[str]:
        return [n for (n,) in self.con.execute(
            "SELECT object FROM claims WHERE subject = ?1 AND object <> ?1 "
            "UNION SELECT subject FROM claims WHERE object = ?1 AND subject <> ?1", (e,))]

    def bfs_claims(self, e: str, max_depth: int) -> list[tuple[dict, int]]:
        group = self.alias_group(e)
        visited, frontier, out = set(group), list(group), []
        for depth in range(1, max_depth + 1):
            if not frontier:
                break
            nxt = []
            for r in self._claims_of(frontier):
                for x in (r[3], r[8]):
                    if x not in visited:
                        visited.add(x)
                        nxt.append(x)
                out.append((claim_dict(r[1:]), depth))
            frontier = nxt
        return out

    # analytics: GROUP BY over the claims table
    def predicate_counts(self) -> dict[str, int]:
        return dict(self.con.execute("SELECT predicate, count(*) FROM claims GROUP BY predicate"))

    def _entity_rows(self, what: str, e: str):
        return self.con.execute(
            f"SELECT {what} FROM (SELECT * FROM claims WHERE subject = ?1 "
            f"UNION ALL SELECT * FROM claims WHERE object = ?1 AND subject <> ?1) GROUP BY 1 ORDER BY 2 DESC", (e,))

    def entity_source_counts(self, e: str) -> list[tuple]:
        return list(self._entity_rows("source_id, count(*), avg(confidence)", e))

    def entity_predicate_counts(self, e: str) -> list[tuple]:
        return list(self._entity_rows("predicate, count(*)", e))

    def find_contradictions(self, a: str, b: str) -> list[tuple]:
        return list(self.con.execute(
            "SELECT x.subject, x.object, x.n, y.n, x.c, y.c FROM "
            "(SELECT subject, object, count(*) n, avg(confidence) c FROM claims WHERE predicate = ? "
            " GROUP BY subject, object) x JOIN "
            "(SELECT subject, object, count(*) n, avg(confidence) c FROM claims WHERE predicate = ? "
            " GROUP BY subject, object) y USING(subject, object) ORDER BY x.n + y.n DESC", (a, b)))

    def find_single_source_entities(self, min_claims: int) -> list[str]:
        return [e for (e,) in self.con.execute(
            "SELECT e FROM (SELECT subject e, source_id s FROM claims "
            "UNION ALL SELECT object, source_id FROM claims WHERE object <> subject) "
            "GROUP BY e HAVING count(DISTINCT s) = 1 AND count(*) >= ?", (min_claims,))]

    def gap_analysis(self, entity_type: str, expected: list[str], limit: int = 0) -> list[tuple]:
        marks = ",".join("?" * len(expected))
        present: dict[str, set] = {}
        for e, p in self.con.execute(
                f"SELECT x.e, x.p FROM (SELECT subject e, predicate p FROM claims WHERE predicate IN ({marks}) "
                f"UNION SELECT object, predicate FROM claims WHERE predicate IN ({marks})) x "
                f"JOIN entities ON entities.id = x.e WHERE entities.entity_type = ? GROUP BY x.e, x.p",
                (*expected, *expected, entity_type)):
            present.setdefault(e, set()).add(p)
        out = []
        for e in sorted(present):
            missing = [p for p in expected if p not in present[e]]
            if 0 < len(missing) < len(expected):
                out.append((e, missing))
        out.sort(key=lambda t: -len(t[1]))
        return out[:limit] if limit else out

    # analytics: reading the counter tables the triggers keep
    def predicate_counts_counters(self) -> dict[str, int]:
        return dict(self.con.execute("SELECT k, n FROM pred_id_counts"))

    def entity_source_counts_counters(self, e: str) -> list[tuple]:
        return list(self.con.execute("SELECT source_id, n, conf_sum / n FROM entity_src_counts WHERE entity = ? "
                                     "ORDER BY n DESC", (e,)))

    def entity_predicate_counts_counters(self, e: str) -> list[tuple]:
        return list(self.con.execute("SELECT predicate, n FROM entity_pred_counts WHERE entity = ? "
                                     "ORDER BY n DESC", (e,)))

    # search
    def search_entities(self, query: str, top_k: int) -> list[dict]:
        words = [w for w in query.lower().split() if w]
        match = " OR ".join('"' + w.replace('"', '""') + '"' for w in words)
        ids = [i for (i,) in self.con.execute(
            "SELECT id FROM entity_fts WHERE entity_fts MATCH ? ORDER BY bm25(entity_fts) LIMIT ?", (match, top_k))]
        out = []
        for i in ids:
            r = self.con.execute("SELECT id, name, entity_type, external_ids FROM entities WHERE id = ?",
                                 (i,)).fetchone()
            if r is None:
                continue
            count = self.con.execute(
                "SELECT (SELECT count(*) FROM claims WHERE subject = ?1) + "
                "(SELECT count(*) FROM claims WHERE object = ?1 AND subject <> ?1)", (i,)).fetchone()[0]
            out.append({"id": r[0], "name": r[1], "entity_type": r[2], "external_ids": {}, "claim_count": count})
        return out
