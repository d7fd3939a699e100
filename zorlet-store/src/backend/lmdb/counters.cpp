// Counter rebuild and backfills.
//
// The derived tables and their keys (values: plain counter count:u64be,
// confidence counter count:u64le sum:f64le):
//
//   pred_type_counts    predicate_type                         plain
//   pred_id_counts      predicate_id                           plain
//   src_type_counts     source_type                            plain
//   entity_type_counts  entity_type                            plain
//   entity_pred_counts  subject 0x1F predicate_id              plain
//                       cut490(object) 0x1F predicate_id       plain       (object != subject)
//   entity_src_counts   subject 0x1F source_id                 confidence
//                       cut470(object) 0x1F source_id          confidence  (object != subject)
//   pred_pair_counts    cut500(predicate_id 0x1F subject 0x1F object)  confidence
//   claim_summaries     seq:u64be -> summary
//   causal_adj          subject 0x1F predicate_id -> object    (dup; causal predicates only)
//
// The rebuild and the backfills build every key exactly as the claim write
// path does and count in sequence order, so a rebuilt table is byte-for-byte
// what a normal load would have written (confidence sums included: the same
// additions happen in the same order).
//
// LMDB refuses empty keys and keys over 511 bytes. The write path never
// counts such a key: it skips an empty predicate type, predicate id or source
// type, an entity registration with an empty type gets no count, and a claim
// whose composite counter key is too long is refused outright. The rebuild
// and the backfills leave exactly those keys out instead of failing at the
// put, which would otherwise keep the counters stale for good.
#include <algorithm>
#include <cstdio>
#include <string>
#include <unordered_map>
#include <vector>

#include "backend/lmdb/counter_tables.h"
#include "backend/lmdb/lmdb_backend.h"
#include "zorlet_core/log.h"

namespace zorlet_store::backend::lmdb {

using codec::ClaimSummary;
using codec::ConfCounter;
using zorlet_core::errors::fail;
using zorlet_core::errors::InternalFault;

namespace {

constexpr size_t kClaimBatch = 100000;
constexpr size_t kEdgeBatch = 100000;
constexpr const char* kClosedShort = "LMDB environment already closed";

// The 13 causal predicates, in the order the causal index is rebuilt.
constexpr std::string_view kCausalPredicates[] = {
    "activates", "inhibits", "upregulates", "downregulates", "regulates", "promotes", "suppresses",
    "increases", "decreases", "causes",     "prevents",    "enables",     "blocks",
};

using PlainCounts = std::unordered_map<std::string, uint64_t>;
using ConfCounts = std::unordered_map<std::string, ConfCounter>;

// In-memory counts of a rebuild.
struct Tally {
  PlainCounts pred_type, pred_id, src_type, entity_type, entity_pred;
  ConfCounts entity_src, pred_pair;
};

void count_plain(PlainCounts& m, std::string_view key) {
  if (key_fits(key)) ++m[std::string(key)];
}

void count_conf(ConfCounts& m, std::string_view key, double confidence) {
  if (!key_fits(key)) return;
  ConfCounter& c = m[std::string(key)];
  c.count += 1;
  c.sum += confidence;
}

// Calls `plain(table, key)` / `conf(table, key)` for every analytics counter
// key of one claim (entity_pred_counts, entity_src_counts, pred_pair_counts),
// in the order of the write path.
enum class Table { EntityPred, EntitySrc, PredPair };
template <class Plain, class Conf>
void for_each_analytics_key(const ClaimSummary& s, Plain&& plain, Conf&& conf) {
  bool distinct = s.object_id != s.subject_id;
  plain(Table::EntityPred, codec::composite(s.subject_id, s.predicate_id));
  if (distinct) plain(Table::EntityPred, codec::composite(codec::cut_utf8(s.object_id, 490), s.predicate_id));
  conf(Table::EntitySrc, codec::composite(s.subject_id, s.source_id));
  if (distinct) conf(Table::EntitySrc, codec::composite(codec::cut_utf8(s.object_id, 470), s.source_id));
  std::string pair = codec::composite(s.predicate_id, s.subject_id, s.object_id);
  conf(Table::PredPair, std::string(codec::cut_utf8(pair, 500)));
}

void tally_claim(Tally& t, const Claim& claim, const ClaimSummary& s) {
  if (!claim.predicate.predicate_type.empty()) count_plain(t.pred_type, claim.predicate.predicate_type);
  if (!claim.predicate.id.empty()) count_plain(t.pred_id, claim.predicate.id);
  if (!claim.provenance.source_type.empty()) count_plain(t.src_type, claim.provenance.source_type);
  for_each_analytics_key(
      s, [&](Table, const std::string& key) { count_plain(t.entity_pred, key); },
      [&](Table table, const std::string& key) {
        count_conf(table == Table::EntitySrc ? t.entity_src : t.pred_pair, key, s.confidence);
      });
}

// One batch of a scan in key order.
struct ScanStep {
  uint64_t read = 0;                  // entries seen, decodable or not
  std::optional<uint64_t> last_seq;  // key of the last entry seen
};

// Reads up to `limit` entries of a seq-keyed table from `start` on, in one
// read transaction, calling `visit(seq, value)` for each.
template <class Visit>
Result<ScanStep> scan_seq_table(MDB_env* env, MDB_dbi dbi, uint64_t start, size_t limit, const char* range_ctx,
                                const char* read_ctx, Visit&& visit) {
  Txn txn;
  if (int rc = Txn::begin(env, false, txn); rc != MDB_SUCCESS) return fail("begin_read", lmdb_text(rc));
  Cursor cur;
  if (int rc = Cursor::open(txn, dbi, cur); rc != MDB_SUCCESS) return fail(range_ctx, lmdb_text(rc));
  auto first = codec::seq_key(start);
  std::string_view k = codec::view(first), v;
  int rc = cur.get(MDB_SET_RANGE, k, v);
  if (rc != MDB_SUCCESS && rc != MDB_NOTFOUND) return fail(range_ctx, lmdb_text(rc));
  ScanStep step;
  while (rc == MDB_SUCCESS && step.read < limit) {
    ++step.read;
    if (auto seq = codec::read_seq(k)) {
      step.last_seq = *seq;
      visit(*seq, v);
    }
    rc = cur.get(MDB_NEXT, k, v);
    if (rc != MDB_SUCCESS && rc != MDB_NOTFOUND) return fail(read_ctx, lmdb_text(rc));
  }
  return step;
}

// The start of the next batch, or nothing when the scan is over.
std::optional<uint64_t> next_start(const ScanStep& step, size_t limit) {
  if (step.read < limit || !step.last_seq || *step.last_seq == UINT64_MAX) return std::nullopt;
  return *step.last_seq + 1;
}

using QueuedSummaries = std::vector<std::pair<uint64_t, std::string>>;

Result<void> put_summaries(Txn& txn, MDB_dbi dbi, const QueuedSummaries& queue) {
  for (const auto& [seq, bytes] : queue) {
    auto key = codec::seq_key(seq);
    if (int rc = txn.put(dbi, codec::view(key), bytes); rc != MDB_SUCCESS)
      return fail("put claim_summaries", lmdb_text(rc));
  }
  return {};
}

Result<void> write_summaries(MDB_env* env, MDB_dbi dbi, const QueuedSummaries& queue, const char* commit_ctx) {
  Txn txn;
  if (int rc = Txn::begin(env, true, txn); rc != MDB_SUCCESS) return fail("begin_write", lmdb_text(rc));
  if (auto r = put_summaries(txn, dbi, queue); !r) return r;
  if (int rc = txn.commit(); rc != MDB_SUCCESS) return fail(commit_ctx, lmdb_text(rc));
  return {};
}

// Puts a whole table in key order. The table was emptied in the same
// transaction and std::string orders bytes as unsigned, like LMDB's default
// comparison, so every key can be appended.
template <class Map, class Encode>
Result<void> put_sorted(Txn& txn, MDB_dbi dbi, const Map& counts, const char* context, Encode&& encode) {
  std::vector<const typename Map::value_type*> entries;
  entries.reserve(counts.size());
  for (const auto& e : counts) entries.push_back(&e);
  std::sort(entries.begin(), entries.end(), [](auto* a, auto* b) { return a->first < b->first; });
  for (const auto* e : entries) {
    auto bytes = encode(e->second);
    if (int rc = txn.put(dbi, e->first, codec::view(bytes), MDB_APPEND); rc != MDB_SUCCESS)
      return fail(context, lmdb_text(rc));
  }
  return {};
}

Result<void> clear_table(Txn& txn, MDB_dbi dbi, const char* context) {
  if (int rc = mdb_drop(txn.get(), dbi, 0); rc != MDB_SUCCESS) return fail(context, lmdb_text(rc));
  return {};
}

// Read-modify-write counters of one write transaction: each key is read once,
// added to in memory in order, and written back once at the end.
class CounterCache {
 public:
  CounterCache(Txn& txn, const Dbs& dbs) : txn_(txn), dbs_(dbs) {}

  Result<void> add(const ClaimSummary& s) {
    Result<void> status;
    for_each_analytics_key(
        s,
        [&](Table, const std::string& key) {
          if (status && key_fits(key)) {
            auto slot = plain_slot(key);
            if (slot) ++**slot;
            else status = fail(slot.error());
          }
        },
        [&](Table table, const std::string& key) {
          if (status && key_fits(key)) {
            auto slot = conf_slot(table == Table::EntitySrc ? dbs_.entity_src_counts : dbs_.pred_pair_counts,
                                  table == Table::EntitySrc ? entity_src_ : pred_pair_, key);
            if (slot) {
              (*slot)->count += 1;
              (*slot)->sum += s.confidence;
            } else {
              status = fail(slot.error());
            }
          }
        });
    return status;
  }

  Result<void> flush() {
    for (const auto& [key, count] : entity_pred_) {
      auto bytes = codec::encode_count(count);
      if (int rc = txn_.put(dbs_.entity_pred_counts, key, codec::view(bytes)); rc != MDB_SUCCESS)
        return fail("put counter", lmdb_text(rc));
    }
    for (auto [dbi, map] : {std::pair{dbs_.entity_src_counts, &entity_src_}, std::pair{dbs_.pred_pair_counts, &pred_pair_}}) {
      for (const auto& [key, c] : *map) {
        auto bytes = codec::encode_conf(c);
        if (int rc = txn_.put(dbi, key, codec::view(bytes)); rc != MDB_SUCCESS)
          return fail("put conf counter", lmdb_text(rc));
      }
    }
    return {};
  }

 private:
  Result<uint64_t*> plain_slot(const std::string& key) {
    if (auto it = entity_pred_.find(key); it != entity_pred_.end()) return &it->second;
    std::string_view stored;
    uint64_t start = 0;
    int rc = txn_.get(dbs_.entity_pred_counts, key, stored);
    if (rc == MDB_SUCCESS) start = codec::decode_count(stored).value_or(0);
    else if (rc != MDB_NOTFOUND) return fail("get counter", lmdb_text(rc));
    return &entity_pred_.emplace(key, start).first->second;
  }

  Result<ConfCounter*> conf_slot(MDB_dbi dbi, ConfCounts& map, const std::string& key) {
    if (auto it = map.find(key); it != map.end()) return &it->second;
    std::string_view stored;
    ConfCounter start;
    int rc = txn_.get(dbi, key, stored);
    if (rc == MDB_SUCCESS) start = codec::decode_conf(stored).value_or(ConfCounter{});
    else if (rc != MDB_NOTFOUND) return fail("get conf counter", lmdb_text(rc));
    return &map.emplace(key, start).first->second;
  }

  Txn& txn_;
  const Dbs& dbs_;
  PlainCounts entity_pred_;
  ConfCounts entity_src_, pred_pair_;
};

}  // namespace

Result<void> LmdbBackend::rebuild_counters() {
  if (!env_) throw InternalFault(kClosedShort);
  MDB_env* e = env();
  Tally tally;
  QueuedSummaries queue;
  uint64_t claims_counted = 0;

  // 1. Count every decodable claim in bounded read transactions; summaries
  //    go out in between so that memory stays bounded.
  std::optional<uint64_t> start = 0;
  while (start) {
    auto step = scan_seq_table(e, dbs_.claims, *start, kClaimBatch, "range claims", "read claim",
                               [&](uint64_t seq, std::string_view value) {
                                 auto claim = codec::decompress_claim(value);
                                 if (!claim) return;
                                 ClaimSummary s = codec::summary_of(*claim);
                                 tally_claim(tally, *claim, s);
                                 queue.emplace_back(seq, codec::encode_summary(s));
                                 ++claims_counted;
                               });
    if (!step) return fail(step.error());
    start = next_start(*step, kClaimBatch);
    if (start && queue.size() >= kClaimBatch) {
      if (auto r = write_summaries(e, dbs_.claim_summaries, queue, "commit summaries"); !r) return r;
      queue.clear();
    }
  }

  // 2. Entities per type.
  {
    Txn txn;
    if (int rc = Txn::begin(e, false, txn); rc != MDB_SUCCESS) return fail("begin_read", lmdb_text(rc));
    Cursor cur;
    if (int rc = Cursor::open(txn, dbs_.entities, cur); rc != MDB_SUCCESS) return fail("iter entities", lmdb_text(rc));
    std::string_view k, v;
    int rc = cur.get(MDB_FIRST, k, v);
    for (; rc == MDB_SUCCESS; rc = cur.get(MDB_NEXT, k, v)) {
      auto entity = codec::decode_entity(v);
      if (entity && !entity->entity_type.empty()) count_plain(tally.entity_type, entity->entity_type);
    }
    if (rc != MDB_NOTFOUND) return fail("read entity", lmdb_text(rc));
  }

  // 3. Replace the seven tables in one transaction: readers see the old set
  //    or the new one, never a mixture.
  Txn txn;
  if (int rc = Txn::begin(e, true, txn); rc != MDB_SUCCESS) return fail("begin_write", lmdb_text(rc));
  const std::pair<MDB_dbi, const char*> clears[] = {
      {dbs_.pred_type_counts, "clear pred_type"},     {dbs_.pred_id_counts, "clear pred_id"},
      {dbs_.src_type_counts, "clear src_type"},       {dbs_.entity_type_counts, "clear entity_type"},
      {dbs_.entity_pred_counts, "clear entity_pred"}, {dbs_.entity_src_counts, "clear entity_src"},
      {dbs_.pred_pair_counts, "clear pred_pair"},
  };
  for (const auto& [dbi, context] : clears)
    if (auto r = clear_table(txn, dbi, context); !r) return r;
  auto plain = [](uint64_t c) { return codec::encode_count(c); };
  auto conf = [](const ConfCounter& c) { return codec::encode_conf(c); };
  if (auto r = put_sorted(txn, dbs_.pred_type_counts, tally.pred_type, "put pred_type_counts", plain); !r) return r;
  if (auto r = put_sorted(txn, dbs_.pred_id_counts, tally.pred_id, "put pred_id_counts", plain); !r) return r;
  if (auto r = put_sorted(txn, dbs_.src_type_counts, tally.src_type, "put src_type_counts", plain); !r) return r;
  if (auto r = put_sorted(txn, dbs_.entity_type_counts, tally.entity_type, "put entity_type_counts", plain); !r)
    return r;
  if (auto r = put_sorted(txn, dbs_.entity_pred_counts, tally.entity_pred, "put entity_pred_counts", plain); !r)
    return r;
  if (auto r = put_sorted(txn, dbs_.entity_src_counts, tally.entity_src, "put entity_src_counts", conf); !r) return r;
  if (auto r = put_sorted(txn, dbs_.pred_pair_counts, tally.pred_pair, "put pred_pair_counts", conf); !r) return r;
  if (auto r = put_summaries(txn, dbs_.claim_summaries, queue); !r) return r;
  if (int rc = txn.commit(); rc != MDB_SUCCESS) return fail("commit counters", lmdb_text(rc));

  zorlet_core::log::info(kLogTarget, "rebuild_counters: processed " + std::to_string(claims_counted) + " claims, " +
                                         std::to_string(tally.entity_type.size()) + " entity types, " +
                                         std::to_string(tally.pred_id.size()) + " predicate IDs");
  return {};
}

Result<uint64_t> LmdbBackend::backfill_pred_id_counts() {
  if (!env_) throw InternalFault(kClosedShort);
  MDB_env* e = env();
  PlainCounts counts;
  {
    Txn txn;
    if (int rc = Txn::begin(e, false, txn); rc != MDB_SUCCESS) return fail("begin_read", lmdb_text(rc));
    if (uint64_t present = txn.entries(dbs_.pred_id_counts).value_or(0); present > 0) return present;
    Cursor cur;
    if (int rc = Cursor::open(txn, dbs_.predicate_idx, cur); rc != MDB_SUCCESS)
      return fail("iter predicate_idx", lmdb_text(rc));
    std::string_view k, v;
    int rc = cur.get(MDB_FIRST, k, v);
    for (; rc == MDB_SUCCESS; rc = cur.get(MDB_NEXT_NODUP, k, v)) {
      size_t n = 0;
      if (int crc = cur.count(n); crc != MDB_SUCCESS) return fail("iter predicate_idx", lmdb_text(crc));
      counts[std::string(k)] = n;
    }
    if (rc != MDB_NOTFOUND) return fail("iter predicate_idx", lmdb_text(rc));
  }
  Txn txn;
  if (int rc = Txn::begin(e, true, txn); rc != MDB_SUCCESS) return fail("begin_write", lmdb_text(rc));
  for (const auto& [key, n] : counts) {
    auto bytes = codec::encode_count(n);
    if (int rc = txn.put(dbs_.pred_id_counts, key, codec::view(bytes)); rc != MDB_SUCCESS)
      return fail("put pred_id_counts", lmdb_text(rc));
  }
  if (int rc = txn.commit(); rc != MDB_SUCCESS) return fail("commit", lmdb_text(rc));
  return counts.size();
}

Result<uint64_t> LmdbBackend::backfill_claim_summaries() {
  if (!env_) throw InternalFault(kClosedShort);
  MDB_env* e = env();
  {
    Txn txn;
    if (int rc = Txn::begin(e, false, txn); rc != MDB_SUCCESS) return fail("begin_read", lmdb_text(rc));
    Cursor cur;
    if (int rc = Cursor::open(txn, dbs_.claims, cur); rc != MDB_SUCCESS) return fail("first claim", lmdb_text(rc));
    std::string_view first, last, v;
    int rc = cur.get(MDB_FIRST, first, v);
    if (rc == MDB_NOTFOUND) return 0;
    if (rc != MDB_SUCCESS) return fail("first claim", lmdb_text(rc));
    if (rc = cur.get(MDB_LAST, last, v); rc != MDB_SUCCESS) return fail("last claim", lmdb_text(rc));
    // Summaries under both ends count as a complete table.
    std::string_view summary;
    int frc = txn.get(dbs_.claim_summaries, first, summary);
    if (frc != MDB_SUCCESS && frc != MDB_NOTFOUND) return fail("get first summary", lmdb_text(frc));
    int lrc = txn.get(dbs_.claim_summaries, last, summary);
    if (lrc != MDB_SUCCESS && lrc != MDB_NOTFOUND) return fail("get last summary", lmdb_text(lrc));
    if (frc == MDB_SUCCESS && lrc == MDB_SUCCESS) return 0;
  }
  uint64_t written = 0;
  std::optional<uint64_t> start = 0;
  while (start) {
    QueuedSummaries batch;
    auto step = scan_seq_table(e, dbs_.claims, *start, kClaimBatch, "range claims", "read claim",
                               [&](uint64_t seq, std::string_view value) {
                                 if (auto claim = codec::decompress_claim(value))
                                   batch.emplace_back(seq, codec::encode_summary(codec::summary_of(*claim)));
                               });
    if (!step) return fail(step.error());
    if (!batch.empty()) {
      if (auto r = write_summaries(e, dbs_.claim_summaries, batch, "commit"); !r) return fail(r.error());
      written += batch.size();
    }
    start = next_start(*step, kClaimBatch);
  }
  return written;
}

Result<uint64_t> LmdbBackend::backfill_analytics_counters() {
  if (!env_) throw InternalFault(kClosedShort);
  MDB_env* e = env();
  {
    Txn txn;
    if (int rc = Txn::begin(e, false, txn); rc != MDB_SUCCESS) return fail("begin_read", lmdb_text(rc));
    Cursor cur;
    std::string_view k, v;
    if (Cursor::open(txn, dbs_.entity_pred_counts, cur) == MDB_SUCCESS && cur.get(MDB_FIRST, k, v) == MDB_SUCCESS)
      return 0;  // already populated
  }
  uint64_t processed = 0;
  std::optional<uint64_t> start = 0;
  while (start) {
    std::vector<ClaimSummary> batch;
    auto step = scan_seq_table(e, dbs_.claim_summaries, *start, kClaimBatch, "range summaries", "read summary",
                               [&](uint64_t, std::string_view value) {
                                 if (auto s = codec::decode_summary(value)) batch.push_back(std::move(*s));
                               });
    if (!step) return fail(step.error());
    if (!batch.empty()) {
      Txn txn;
      if (int rc = Txn::begin(e, true, txn); rc != MDB_SUCCESS) return fail("begin_write", lmdb_text(rc));
      CounterCache cache(txn, dbs_);
      for (const ClaimSummary& s : batch)
        if (auto r = cache.add(s); !r) return fail(r.error());
      if (auto r = cache.flush(); !r) return fail(r.error());
      if (int rc = txn.commit(); rc != MDB_SUCCESS) return fail("commit", lmdb_text(rc));
      processed += batch.size();
    }
    start = next_start(*step, kClaimBatch);
  }
  return processed;
}

Result<uint64_t> LmdbBackend::rebuild_causal_adj() {
  MDB_env* e = env();
  if (read_only_) return fail(zorlet_core::errors::ZorletError::read_only());
  struct Edge {
    std::string key, object;
  };
  std::vector<Edge> edges;
  {
    Txn txn;
    if (int rc = Txn::begin(e, false, txn); rc != MDB_SUCCESS) return fail("rebuild read", lmdb_text(rc));
    for (std::string_view predicate : kCausalPredicates) {
      for (uint64_t seq : dup_seqs(txn, dbs_.predicate_idx, predicate)) {
        auto key = codec::seq_key(seq);
        std::string_view value;
        if (txn.get(dbs_.claims, codec::view(key), value) != MDB_SUCCESS) continue;
        auto claim = codec::decompress_claim(value);
        if (!claim || claim->object.id.size() > 490) continue;
        edges.push_back({codec::composite(claim->subject.id, claim->predicate.id), claim->object.id});
      }
    }
  }
  uint64_t count = 0;
  for (size_t begin = 0; begin < edges.size(); begin += kEdgeBatch) {
    Txn txn;
    if (int rc = Txn::begin(e, true, txn); rc != MDB_SUCCESS) return fail("rebuild write", lmdb_text(rc));
    size_t end = std::min(edges.size(), begin + kEdgeBatch);
    for (size_t i = begin; i < end; ++i) {
      if (edges[i].key.size() > 490) continue;
      txn.put(dbs_.causal_adj, edges[i].key, edges[i].object);  // a failing put only loses this edge
      ++count;
    }
    if (int rc = txn.commit(); rc != MDB_SUCCESS) return fail("rebuild commit", lmdb_text(rc));
  }
  return count;
}

}  // namespace zorlet_store::backend::lmdb
