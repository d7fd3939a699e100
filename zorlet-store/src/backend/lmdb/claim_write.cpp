// The claim write path and index maintenance.
//
// Entries of one claim under sequence number `seq` (keys and values are the
// layouts of lmdb_backend.h / codec.h):
//
//   claims             seq                          -> 0x01 zstd(claim record)
//   claim_id_idx       claim_id                     -> seq
//   content_id_idx     content_id                   => seq
//   entity_claims_idx  subject.id                   => seq
//                      object.id  (<= 490, != subject) => seq
//   adjacency_idx      subject.id => object.id, object.id => subject.id  (same guard)
//   causal_adj         subject.id 0x1F predicate.id => object.id
//                      (13 causal predicates; object and key <= 490)
//   timestamp_idx      i64be(timestamp)             => seq
//   source_idx         source_id                    => seq
//   predicate_idx      predicate.id                 => seq
//   namespace_idx      namespace (non-empty)        => seq
//   project_idx        project (present, non-empty) => seq
// and, unless bulk-load mode is on:
//   pred_type_counts / pred_id_counts / src_type_counts   += 1
//   claim_summaries    seq                          -> summary record
//   entity_pred_counts subject 0x1F predicate (+ cut(object, 490) 0x1F predicate) += 1
//   entity_src_counts  subject 0x1F source (+ cut(object, 470) 0x1F source) += (1, confidence)
//   pred_pair_counts   cut(predicate 0x1F subject 0x1F object, 500)    += (1, confidence)
//   ("=>" marks a duplicate-sorted database)
//
// A claim must never be half-written. Every key and duplicate value that LMDB
// could refuse for its size is checked before the first put, and the check
// reports the error the refused put would have reported. What can still fail
// after that (a full map, an I/O error) puts the LMDB transaction in its
// error state, so the whole transaction is lost, never a part of one claim.
//
// Writes are gathered per chunk of claims and then applied one database at a
// time in key order, which keeps LMDB's page accesses local; counter
// increments are folded per key. Neither changes any stored byte: keys are
// unique or duplicate-sorted anyway, and confidence sums are folded in claim
// order starting from the stored value, exactly as claim-by-claim updates
// would add them.
#include <algorithm>
#include <cstdio>
#include <deque>
#include <numeric>
#include <unordered_map>
#include <unordered_set>

#include "backend/lmdb/lmdb_backend.h"
#include "zorlet_core/vocabulary.h"

namespace zorlet_store::backend::lmdb {

using zorlet_core::errors::fail;

namespace {

constexpr size_t kBatchChunk = 100000;
constexpr size_t kObjectIndexLimit = 490;  // object-side index entries and causal keys
constexpr size_t kObjectPredCut = 490;     // entity_pred_counts object-side key part
constexpr size_t kObjectSrcCut = 470;      // entity_src_counts object-side key part
constexpr size_t kPredPairCut = 500;       // pred_pair_counts whole key

// The predicates that add an edge to `causal_adj` (this set belongs to the
// write path; graph callers pass their own lists).
bool writes_causal_edge(std::string_view predicate) {
  static const std::unordered_set<std::string_view> kCausal = {
      "causes",   "blocks",    "enables",   "inhibits",   "promotes",    "prevents",      "activates",
      "regulates", "increases", "decreases", "suppresses", "upregulates", "downregulates",
  };
  return kCausal.contains(predicate);
}

bool object_side_indexed(const Claim& c) {
  return c.object.id.size() <= kObjectIndexLimit && c.object.id != c.subject.id;
}

// Refuses, with the error the put of that step would give, any key (or
// duplicate value) outside LMDB's 1..511 bytes. Steps are checked in write
// order so the first failing step is the one named.
Result<void> check_sizes(const Claim& c, bool counters) {
  auto refuse = [](std::string_view context) { return fail(context, lmdb_text(MDB_BAD_VALSIZE)); };
  if (!key_fits(c.claim_id)) return refuse("put claim_id_idx");
  if (!key_fits(c.content_id)) return refuse("put content_id_idx");
  if (!key_fits(c.subject.id)) return refuse("put entity_claims_idx");
  if (object_side_indexed(c) && c.object.id.empty()) return refuse("put entity_claims_idx");
  if (!key_fits(c.provenance.source_id)) return refuse("put source_idx");
  if (!key_fits(c.predicate.id)) return refuse("put predicate_idx");
  if (c.ns.size() > kMaxKeySize) return refuse("put namespace_idx");
  if (c.provenance.project && c.provenance.project->size() > kMaxKeySize) return refuse("put project_idx");
  if (!counters) return {};
  // Plain counters are written only under non-empty keys; pred_id_counts'
  // key is the predicate id, already checked.
  if (c.predicate.predicate_type.size() > kMaxKeySize) return refuse("put counter");
  if (c.provenance.source_type.size() > kMaxKeySize) return refuse("put counter");
  const bool object_differs = c.object.id != c.subject.id;
  auto composite_size = [](std::string_view a, std::string_view b) { return a.size() + 1 + b.size(); };
  if (composite_size(c.subject.id, c.predicate.id) > kMaxKeySize) return refuse("put counter");
  if (object_differs &&
      composite_size(codec::cut_utf8(c.object.id, kObjectPredCut), c.predicate.id) > kMaxKeySize)
    return refuse("put counter");
  if (composite_size(c.subject.id, c.provenance.source_id) > kMaxKeySize) return refuse("put conf counter");
  if (object_differs &&
      composite_size(codec::cut_utf8(c.object.id, kObjectSrcCut), c.provenance.source_id) > kMaxKeySize)
    return refuse("put conf counter");
  return {};
}

struct Entry {
  std::string_view key;
  std::string_view value;
  bool operator==(const Entry& o) const = default;
};

// Items of a chunk listed in byte order of their keys: `order` holds item
// positions, items with equal keys in their original order, and the items of
// the r-th distinct key are order[runs[r]] .. order[runs[r + 1] - 1].
struct KeyRuns {
  std::vector<uint32_t> order;
  std::vector<uint32_t> runs;
};

// Chunks repeat keys heavily (a predicate, a namespace, a popular entity), so
// distinct keys are found by hashing and only they are sorted; a counting
// pass then places the items.
template <class KeyOf>
KeyRuns key_runs(size_t n, KeyOf key_of) {
  if (n == 1) return {{0}, {0, 1}};  // single-claim writes skip the hashing
  std::unordered_map<std::string_view, uint32_t> group_of;
  group_of.reserve(n);
  std::vector<uint32_t> group(n);
  std::vector<std::string_view> keys;
  for (size_t i = 0; i < n; ++i) {
    auto [it, fresh] = group_of.try_emplace(key_of(i), static_cast<uint32_t>(keys.size()));
    if (fresh) keys.push_back(it->first);
    group[i] = it->second;
  }
  std::vector<uint32_t> by_key(keys.size());
  std::iota(by_key.begin(), by_key.end(), 0u);
  std::sort(by_key.begin(), by_key.end(), [&](uint32_t a, uint32_t b) { return keys[a] < keys[b]; });
  std::vector<uint32_t> size(keys.size(), 0), slot(keys.size());
  for (uint32_t g : group) ++size[g];
  KeyRuns out;
  out.runs.reserve(keys.size() + 1);
  uint32_t next = 0;
  for (uint32_t g : by_key) {
    out.runs.push_back(next);
    slot[g] = next;
    next += size[g];
  }
  out.runs.push_back(next);
  out.order.resize(n);
  for (size_t i = 0; i < n; ++i) out.order[slot[group[i]]++] = static_cast<uint32_t>(i);
  return out;
}

struct ConfAdd {
  std::string_view key;
  double confidence;
};

// Gathers the entries of a run of claims and writes them database by
// database. Keys and values are views into the claims (which the caller keeps
// alive until `write` returns) or into this writer's own storage.
class ChunkWriter {
 public:
  ChunkWriter(const Dbs& dbs, bool counters) : dbs_(dbs), counters_(counters) {}

  void add(const Claim& c, uint64_t seq, std::string value) {
    std::string_view s = codec::view(seqs_.emplace_back(codec::seq_key(seq)));
    values_.push_back(Entry{s, store(std::move(value))});
    claim_id_.push_back({c.claim_id, s});
    content_.push_back({c.content_id, s});
    entity_.push_back({c.subject.id, s});
    if (object_side_indexed(c)) {
      entity_.push_back({c.object.id, s});
      adjacency_.push_back({c.subject.id, c.object.id});
      adjacency_.push_back({c.object.id, c.subject.id});
    }
    if (writes_causal_edge(c.predicate.id) && c.object.id.size() <= kObjectIndexLimit &&
        c.subject.id.size() + 1 + c.predicate.id.size() <= kObjectIndexLimit)
      causal_.push_back({store(codec::composite(c.subject.id, c.predicate.id)), c.object.id});
    timestamp_.push_back({codec::view(stamps_.emplace_back(codec::timestamp_key(c.timestamp))), s});
    source_.push_back({c.provenance.source_id, s});
    predicate_.push_back({c.predicate.id, s});
    if (!c.ns.empty()) namespace_.push_back({c.ns, s});
    if (c.provenance.project && !c.provenance.project->empty()) project_.push_back({*c.provenance.project, s});
    if (!counters_) return;

    if (!c.predicate.predicate_type.empty()) pred_type_.push_back(c.predicate.predicate_type);
    if (!c.predicate.id.empty()) pred_id_.push_back(c.predicate.id);
    if (!c.provenance.source_type.empty()) src_type_.push_back(c.provenance.source_type);
    summaries_.push_back({s, store(codec::encode_summary(codec::summary_of(c)))});
    const bool object_differs = c.object.id != c.subject.id;
    entity_pred_.push_back(store(codec::composite(c.subject.id, c.predicate.id)));
    if (object_differs)
      entity_pred_.push_back(store(codec::composite(codec::cut_utf8(c.object.id, kObjectPredCut), c.predicate.id)));
    entity_src_.push_back({store(codec::composite(c.subject.id, c.provenance.source_id)), c.confidence});
    if (object_differs)
      entity_src_.push_back(
          {store(codec::composite(codec::cut_utf8(c.object.id, kObjectSrcCut), c.provenance.source_id)),
           c.confidence});
    std::string pair = codec::composite(c.predicate.id, c.subject.id, c.object.id);
    pair.resize(codec::cut_utf8(pair, kPredPairCut).size());
    pred_pair_.push_back({store(std::move(pair)), c.confidence});
  }

  Result<void> write(Txn& txn) {
    if (auto r = append_in_order(txn, dbs_.claims, values_, "put claims"); !r) return r;
    if (auto r = put_sorted(txn, dbs_.claim_id_idx, claim_id_, "put claim_id_idx"); !r) return r;
    if (auto r = put_sorted(txn, dbs_.content_id_idx, content_, "put content_id_idx"); !r) return r;
    if (auto r = put_sorted(txn, dbs_.entity_claims_idx, entity_, "put entity_claims_idx"); !r) return r;
    if (auto r = put_sorted(txn, dbs_.adjacency_idx, adjacency_, "put adjacency_idx", true); !r) return r;
    // A missing causal edge is tolerated; a transaction broken by a failed
    // put still fails at the next database.
    (void)put_sorted(txn, dbs_.causal_adj, causal_, "put causal_adj", true);
    if (auto r = put_sorted(txn, dbs_.timestamp_idx, timestamp_, "put timestamp_idx"); !r) return r;
    if (auto r = put_sorted(txn, dbs_.source_idx, source_, "put source_idx"); !r) return r;
    if (auto r = put_sorted(txn, dbs_.predicate_idx, predicate_, "put predicate_idx"); !r) return r;
    if (auto r = put_sorted(txn, dbs_.namespace_idx, namespace_, "put namespace_idx"); !r) return r;
    if (auto r = put_sorted(txn, dbs_.project_idx, project_, "put project_idx"); !r) return r;
    if (!counters_) return {};
    if (auto r = add_counts(txn, dbs_.pred_type_counts, pred_type_); !r) return r;
    if (auto r = add_counts(txn, dbs_.pred_id_counts, pred_id_); !r) return r;
    if (auto r = add_counts(txn, dbs_.src_type_counts, src_type_); !r) return r;
    if (auto r = append_in_order(txn, dbs_.claim_summaries, summaries_, "put claim_summaries"); !r) return r;
    if (auto r = add_counts(txn, dbs_.entity_pred_counts, entity_pred_); !r) return r;
    if (auto r = add_conf(txn, dbs_.entity_src_counts, entity_src_); !r) return r;
    return add_conf(txn, dbs_.pred_pair_counts, pred_pair_);
  }

 private:
  std::string_view store(std::string s) { return arena_.emplace_back(std::move(s)); }

  // Sequence-keyed databases: claims arrive in ascending order above every
  // stored key, so appending is valid; should a key exist after all, the
  // ordinary put replaces its value.
  static Result<void> append_in_order(Txn& txn, MDB_dbi dbi, const std::vector<Entry>& entries,
                                      std::string_view context) {
    Cursor cur;
    if (int rc = Cursor::open(txn, dbi, cur); rc != MDB_SUCCESS) return fail(context, lmdb_text(rc));
    for (const Entry& e : entries) {
      int rc = cur.put(e.key, e.value, MDB_APPEND);
      if (rc == MDB_KEYEXIST) rc = cur.put(e.key, e.value);
      if (rc != MDB_SUCCESS) return fail(context, lmdb_text(rc));
    }
    return {};
  }

  // Entries in key order. The sequence-valued indexes receive each key's
  // values in claim order, which is ascending sequence order already; the
  // entity-valued ones (adjacency, causal edges) sort and drop repeats.
  static Result<void> put_sorted(Txn& txn, MDB_dbi dbi, std::vector<Entry>& entries, std::string_view context,
                                 bool sort_values = false) {
    if (entries.empty()) return {};
    const KeyRuns k = key_runs(entries.size(), [&](size_t i) { return entries[i].key; });
    std::vector<Entry> ordered;
    ordered.reserve(entries.size());
    for (uint32_t i : k.order) ordered.push_back(entries[i]);
    if (sort_values) {
      for (size_t r = 0; r + 1 < k.runs.size(); ++r)
        std::sort(ordered.begin() + k.runs[r], ordered.begin() + k.runs[r + 1],
                  [](const Entry& a, const Entry& b) { return a.value < b.value; });
      ordered.erase(std::unique(ordered.begin(), ordered.end()), ordered.end());
    }
    Cursor cur;
    if (int rc = Cursor::open(txn, dbi, cur); rc != MDB_SUCCESS) return fail(context, lmdb_text(rc));
    for (const Entry& e : ordered)
      if (int rc = cur.put(e.key, e.value); rc != MDB_SUCCESS) return fail(context, lmdb_text(rc));
    return {};
  }

  // Plain counters: each key gains the number of times it was listed.
  static Result<void> add_counts(Txn& txn, MDB_dbi dbi, const std::vector<std::string_view>& keys) {
    if (keys.empty()) return {};
    const KeyRuns k = key_runs(keys.size(), [&](size_t i) { return keys[i]; });
    Cursor cur;
    if (int rc = Cursor::open(txn, dbi, cur); rc != MDB_SUCCESS) return fail("get counter", lmdb_text(rc));
    for (size_t r = 0; r + 1 < k.runs.size(); ++r) {
      const std::string_view key = keys[k.order[k.runs[r]]];
      std::string_view found = key, v;
      int rc = cur.get(MDB_SET_KEY, found, v);
      if (rc != MDB_SUCCESS && rc != MDB_NOTFOUND) return fail("get counter", lmdb_text(rc));
      uint64_t count = rc == MDB_SUCCESS ? codec::decode_count(v).value_or(0) : 0;
      auto bytes = codec::encode_count(count + (k.runs[r + 1] - k.runs[r]));
      if (int prc = cur.put(key, codec::view(bytes)); prc != MDB_SUCCESS) return fail("put counter", lmdb_text(prc));
    }
    return {};
  }

  // Confidence counters: within a key the additions keep claim order, so the
  // sum is built exactly as claim-by-claim updates build it.
  static Result<void> add_conf(Txn& txn, MDB_dbi dbi, const std::vector<ConfAdd>& adds) {
    if (adds.empty()) return {};
    const KeyRuns k = key_runs(adds.size(), [&](size_t i) { return adds[i].key; });
    Cursor cur;
    if (int rc = Cursor::open(txn, dbi, cur); rc != MDB_SUCCESS) return fail("get conf counter", lmdb_text(rc));
    for (size_t r = 0; r + 1 < k.runs.size(); ++r) {
      const std::string_view key = adds[k.order[k.runs[r]]].key;
      std::string_view found = key, v;
      int rc = cur.get(MDB_SET_KEY, found, v);
      if (rc != MDB_SUCCESS && rc != MDB_NOTFOUND) return fail("get conf counter", lmdb_text(rc));
      codec::ConfCounter total;
      if (rc == MDB_SUCCESS) total = codec::decode_conf(v).value_or(codec::ConfCounter{});
      for (uint32_t i = k.runs[r]; i < k.runs[r + 1]; ++i) {
        total.count += 1;
        total.sum += adds[k.order[i]].confidence;
      }
      auto bytes = codec::encode_conf(total);
      if (int prc = cur.put(key, codec::view(bytes)); prc != MDB_SUCCESS)
        return fail("put conf counter", lmdb_text(prc));
    }
    return {};
  }

  const Dbs& dbs_;
  const bool counters_;
  std::deque<std::array<char, 8>> seqs_, stamps_;
  std::deque<std::string> arena_;
  std::vector<Entry> values_, summaries_;
  std::vector<Entry> claim_id_, content_, entity_, adjacency_, causal_, timestamp_, source_, predicate_, namespace_,
      project_;
  std::vector<std::string_view> pred_type_, pred_id_, src_type_, entity_pred_;
  std::vector<ConfAdd> entity_src_, pred_pair_;
};

// Checks and encodes one claim: the stored value, or the error of the step
// that would have failed.
Result<std::string> prepare(const Claim& claim, bool counters) {
  if (auto r = check_sizes(claim, counters); !r) return fail(r.error());
  return codec::encode_claim_value(claim);
}

bool stored_id(const Txn& txn, MDB_dbi claim_id_idx, std::string_view claim_id) {
  std::string_view ignored;
  return txn.get(claim_id_idx, claim_id, ignored) == MDB_SUCCESS;  // a failing lookup counts as absent
}

}  // namespace

Result<void> LmdbBackend::write_claim_to_txn(Txn& txn, uint64_t seq, const Claim& claim) {
  env();
  auto value = prepare(claim, !bulk_load_mode());
  if (!value) return fail(value.error());
  ChunkWriter writer(dbs_, !bulk_load_mode());
  writer.add(claim, seq, std::move(*value));
  return writer.write(txn);
}

void LmdbBackend::apply_alias_predicate(const Claim& claim) {
  const std::string& p = claim.predicate.id;
  if (!zorlet_core::vocabulary::is_alias_predicate(p)) return;
  if (p == "same_as") {
    aliases_.unite(claim.subject.id, claim.object.id);
    aliases_dirty_ = true;
  } else if (p == "not_same_as") {
    aliases_.split(claim.subject.id);
    aliases_dirty_ = true;
  }
}

bool LmdbBackend::insert_claim(Claim claim) {
  Txn txn;
  if (Txn::begin(env(), true, txn) != MDB_SUCCESS) return false;
  if (stored_id(txn, dbs_.claim_id_idx, claim.claim_id)) return false;
  uint64_t seq = allocate_seq_base(txn);
  if (!write_claim_to_txn(txn, seq, claim)) return false;
  if (!store_next_seq(txn, seq + 1)) return false;
  if (txn.commit() != MDB_SUCCESS) return false;
  set_next_seq(seq + 1);
  apply_alias_predicate(claim);
  return true;
}

Result<LmdbBackend::WrittenChunk> LmdbBackend::write_claim_chunk(Txn& txn, const std::vector<const Claim*>& claims,
                                                                   const char* stderr_prefix) {
  const bool counters = !bulk_load_mode();
  WrittenChunk out;
  out.next_seq = allocate_seq_base(txn);
  std::unordered_set<std::string_view> taken;
  taken.reserve(claims.size());
  ChunkWriter writer(dbs_, counters);
  for (const Claim* c : claims) {
    if (!taken.insert(c->claim_id).second || stored_id(txn, dbs_.claim_id_idx, c->claim_id)) continue;
    auto value = prepare(*c, counters);
    if (!value) {
      std::fprintf(stderr, "%s write_claim failed: %s\n", stderr_prefix, value.error().display().c_str());
      continue;  // the next claim takes the same number
    }
    writer.add(*c, out.next_seq++, std::move(*value));
    out.stored.push_back(c);
  }
  if (out.stored.empty()) return out;
  if (auto r = writer.write(txn); !r) return fail(r.error());
  if (auto r = store_next_seq(txn, out.next_seq); !r) return fail(r.error());
  return out;
}

uint64_t LmdbBackend::insert_claims_batch(std::vector<Claim> claims) {
  MDB_env* e = env();
  // The first occurrence of each claim id wins.
  std::vector<const Claim*> unique;
  unique.reserve(claims.size());
  {
    std::unordered_set<std::string_view> seen;
    seen.reserve(claims.size());
    for (const Claim& c : claims)
      if (seen.insert(c.claim_id).second) unique.push_back(&c);
  }

  uint64_t total = 0;
  for (size_t begin = 0; begin < unique.size(); begin += kBatchChunk) {
    const size_t end = std::min(unique.size(), begin + kBatchChunk);
    Txn txn;
    if (int rc = Txn::begin(e, true, txn); rc != MDB_SUCCESS) {
      std::fprintf(stderr, "[zorlet-store] write_txn failed: %s (map_full? check map_size)\n", lmdb_text(rc).c_str());
      return total;
    }
    std::vector<const Claim*> chunk(unique.begin() + begin, unique.begin() + end);
    // Past the size checks only the transaction itself can fail (a full map,
    // an I/O error); LMDB then refuses the commit, so report it as one.
    auto written = write_claim_chunk(txn, chunk, "[zorlet-store]");
    if (!written) {
      std::fprintf(stderr, "[zorlet-store] commit failed: %s (map_full? check map_size)\n",
                   written.error().display().c_str());
      return total;
    }
    if (written->stored.empty()) continue;
    if (int rc = txn.commit(); rc != MDB_SUCCESS) {
      std::fprintf(stderr, "[zorlet-store] commit failed: %s (map_full? check map_size)\n", lmdb_text(rc).c_str());
      return total;
    }
    set_next_seq(written->next_seq);
    for (const Claim* c : written->stored) apply_alias_predicate(*c);
    total += written->stored.size();
  }
  return total;
}

}  // namespace zorlet_store::backend::lmdb
