// Entity lookups and ranked search over `entities`, `entity_type_idx`,
// `text_idx` and `entity_claims_idx`.
//
// Every call reads one snapshot in one read transaction and never fails:
// unreadable entries and undecodable records are skipped one by one, and a
// transaction that cannot be opened gives the empty answer.
//
// The claim count of an entity is the number of values under its id in
// `entity_claims_idx` that are 8-byte sequence numbers: claims naming it as
// subject or object, tombstoned ones included, per stored id (no aliases).
#include <algorithm>
#include <cmath>
#include <unordered_map>

#include "backend/lmdb/lmdb_backend.h"
#include "entity_store.h"

namespace zorlet_store::backend::lmdb {

using zorlet_core::types::EntityData;
using zorlet_core::types::to_summary;

using codec::valid_utf8;

namespace {

constexpr size_t kMaxTokenBytes = 490;


std::optional<EntityData> read_entity(const Txn& txn, MDB_dbi dbi, std::string_view id) {
  if (!key_fits(id)) return std::nullopt;
  std::string_view bytes;
  if (txn.get(dbi, id, bytes) != MDB_SUCCESS) return std::nullopt;
  auto decoded = codec::decode_entity(bytes);
  if (!decoded) return std::nullopt;
  return std::move(*decoded);
}

// Calls `visit(value)` for every duplicate stored under `key`, in stored
// order, until it returns false. The views point into LMDB's map and live as
// long as the transaction. A failing cursor simply ends the walk.
template <class Visit>
void for_each_dup(const Txn& txn, MDB_dbi dbi, std::string_view key, Visit&& visit) {
  if (!key_fits(key)) return;
  Cursor cur;
  if (Cursor::open(txn, dbi, cur) != MDB_SUCCESS) return;
  std::string_view k = key, v;
  for (int rc = cur.get(MDB_SET_KEY, k, v); rc == MDB_SUCCESS; rc = cur.get(MDB_NEXT_DUP, k, v))
    if (!visit(v)) return;
}

uint64_t claim_count(const Txn& txn, MDB_dbi entity_claims_idx, std::string_view id) {
  uint64_t n = 0;
  for_each_dup(txn, entity_claims_idx, id, [&](std::string_view v) {
    n += v.size() >= 8;
    return true;
  });
  return n;
}

// Ids under `entity_type` in `entity_type_idx` that are valid strings, until
// `visit` returns false.
template <class Visit>
void for_each_typed_id(const Txn& txn, MDB_dbi entity_type_idx, std::string_view entity_type, Visit&& visit) {
  for_each_dup(txn, entity_type_idx, entity_type, [&](std::string_view v) { return !valid_utf8(v) || visit(v); });
}

// Document length for ranking: tokens of the display name plus tokens of the
// id, at least 1; 1 when the record cannot be read.
double document_length(const Txn& txn, MDB_dbi entities, std::string_view id) {
  auto record = read_entity(txn, entities, id);
  if (!record) return 1.0;
  size_t n = entity_store::count_tokens(record->display_name) + entity_store::count_tokens(record->id);
  return n == 0 ? 1.0 : static_cast<double>(n);
}

}  // namespace

std::optional<EntitySummary> LmdbBackend::get_entity(const std::string& id) {
  MDB_env* e = env();
  Txn txn;
  if (Txn::begin(e, false, txn) != MDB_SUCCESS) return std::nullopt;
  auto record = read_entity(txn, dbs_.entities, id);
  if (!record) return std::nullopt;
  return to_summary(*record, claim_count(txn, dbs_.entity_claims_idx, id));
}

EntityNames LmdbBackend::get_entities_batch(const std::vector<std::string>& ids) {
  MDB_env* e = env();
  EntityNames out;
  out.reserve(ids.size());
  Txn txn;
  if (Txn::begin(e, false, txn) != MDB_SUCCESS) return out;
  for (const std::string& id : ids) {
    auto record = read_entity(txn, dbs_.entities, id);
    if (!record) continue;
    out.insert_or_assign(std::move(record->id),
                         std::pair{std::move(record->entity_type), std::move(record->display_name)});
  }
  return out;
}

std::vector<EntitySummary> LmdbBackend::list_entities(const OptText& entity_type, uint64_t min_claims,
                                                      uint64_t offset, uint64_t limit) {
  MDB_env* e = env();
  std::vector<EntitySummary> out;
  Txn txn;
  if (Txn::begin(e, false, txn) != MDB_SUCCESS) return out;
  uint64_t produced = 0;
  // Returns false once the page is full, so no candidate after it is read.
  auto offer = [&](const EntityData& record, std::string_view id) {
    uint64_t count = claim_count(txn, dbs_.entity_claims_idx, id);
    if (count < min_claims) return true;
    if (produced++ >= offset) out.push_back(to_summary(record, count));
    return limit == 0 || out.size() < limit;
  };

  if (entity_type) {
    for_each_typed_id(txn, dbs_.entity_type_idx, *entity_type, [&](std::string_view id) {
      auto record = read_entity(txn, dbs_.entities, id);
      return !record || offer(*record, id);
    });
    return out;
  }
  Cursor cur;
  if (Cursor::open(txn, dbs_.entities, cur) != MDB_SUCCESS) return out;
  std::string_view k, v;
  for (int rc = cur.get(MDB_FIRST, k, v); rc == MDB_SUCCESS; rc = cur.get(MDB_NEXT, k, v)) {
    if (!valid_utf8(k)) continue;
    auto record = codec::decode_entity(v);
    if (record && !offer(*record, k)) break;
  }
  return out;
}

uint64_t LmdbBackend::count_entities(const OptText& entity_type, uint64_t min_claims) {
  MDB_env* e = env();
  Txn txn;
  if (Txn::begin(e, false, txn) != MDB_SUCCESS) return 0;
  uint64_t n = 0;
  if (entity_type) {
    for_each_typed_id(txn, dbs_.entity_type_idx, *entity_type, [&](std::string_view id) {
      n += min_claims == 0 || claim_count(txn, dbs_.entity_claims_idx, id) >= min_claims;
      return true;
    });
    return n;
  }
  if (min_claims == 0) return txn.entries(dbs_.entities).value_or(0);
  Cursor cur;
  if (Cursor::open(txn, dbs_.entities, cur) != MDB_SUCCESS) return 0;
  std::string_view k, v;
  for (int rc = cur.get(MDB_FIRST, k, v); rc == MDB_SUCCESS; rc = cur.get(MDB_NEXT, k, v))
    n += valid_utf8(k) && claim_count(txn, dbs_.entity_claims_idx, k) >= min_claims;
  return n;
}

// BM25 with k1 = 1.2 and b = 0.75 over `text_idx`:
//
//   score(d) = sum over query positions i where d has a term count tf of
//     tf * 2.2 / (tf + 1.2 * (0.25 + 0.75 * dl / avgdl)) * ln((N - df_i + 0.5) / (df_i + 0.5) + 1)
//
// N is the number of entities, df_i the number of postings of token i, dl the
// token count of the candidate's name and id, avgdl the mean dl over the
// candidates (at least 1). A token repeated in the query counts as two
// positions.
std::vector<EntitySummary> LmdbBackend::search_entities(const std::string& query, uint64_t top_k) {
  MDB_env* e = env();
  std::vector<EntitySummary> out;
  std::vector<std::string> tokens = entity_store::tokenize(query);
  if (top_k == 0 || tokens.empty()) return out;
  // The index holds tokens cut to 490 bytes; a longer query token is looked
  // up the same way, or a name could never find its own entity.
  for (std::string& token : tokens) token.resize(codec::cut_utf8(token, kMaxTokenBytes).size());
  Txn txn;
  if (Txn::begin(e, false, txn) != MDB_SUCCESS) return out;
  const double n_docs = static_cast<double>(txn.entries(dbs_.entities).value_or(0));
  if (n_docs == 0) return out;

  // Candidates in order of first posting; term counts are a flat table of
  // one row per candidate and one column per query position.
  const size_t positions = tokens.size();
  std::vector<std::string_view> ids;  // views into the map, valid for `txn`
  std::vector<uint32_t> tf;
  std::unordered_map<std::string_view, size_t> slot;
  std::vector<double> df(positions, 0.0);
  for (size_t i = 0; i < positions; ++i) {
    for_each_dup(txn, dbs_.text_idx, tokens[i], [&](std::string_view id) {
      if (!valid_utf8(id)) return true;
      df[i] += 1;
      auto [it, fresh] = slot.try_emplace(id, ids.size());
      if (fresh) {
        ids.push_back(id);
        tf.resize(tf.size() + positions, 0);
      }
      tf[it->second * positions + i] += 1;
      return true;
    });
  }
  if (ids.empty()) return out;

  std::vector<double> dl(ids.size());
  double total = 0.0;
  for (size_t c = 0; c < ids.size(); ++c) total += dl[c] = document_length(txn, dbs_.entities, ids[c]);
  const double avgdl = std::max(1.0, total / static_cast<double>(ids.size()));

  std::vector<double> idf(positions);
  for (size_t i = 0; i < positions; ++i) idf[i] = std::log((n_docs - df[i] + 0.5) / (df[i] + 0.5) + 1.0);
  std::vector<double> score(ids.size(), 0.0);
  for (size_t c = 0; c < ids.size(); ++c) {
    for (size_t i = 0; i < positions; ++i) {
      double t = tf[c * positions + i];
      if (t == 0) continue;
      score[c] += t * 2.2 / (t + 1.2 * (0.25 + 0.75 * dl[c] / avgdl)) * idf[i];
    }
  }
  std::vector<size_t> order(ids.size());
  for (size_t c = 0; c < order.size(); ++c) order[c] = c;
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return score[a] > score[b]; });

  size_t take = static_cast<size_t>(std::min<uint64_t>(top_k, order.size()));
  out.reserve(take);
  for (size_t r = 0; r < take; ++r) {
    std::string_view id = ids[order[r]];
    auto record = read_entity(txn, dbs_.entities, id);
    if (!record) continue;  // indexed but gone: its place is not refilled
    out.push_back(to_summary(*record, claim_count(txn, dbs_.entity_claims_idx, id)));
  }
  return out;
}

}  // namespace zorlet_store::backend::lmdb
