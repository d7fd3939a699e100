// Claim lookups, the visibility rule and the tombstone overlay.
//
// Every lookup checks the environment first (a closed store is a fault, not
// an answer), opens one read transaction, and never reports an error: a
// lookup that cannot proceed answers with its empty result, and entries that
// do not read or decode are skipped.
//
// What scans return: `view().visible(claim_id, namespace)` decides, and every
// returned copy of a tombstoned claim shows status Tombstoned. Other status
// overrides (archived, verified, ...) are seen only by `get_claim`.
#include <algorithm>

#include "backend/lmdb/lmdb_backend.h"
#include "zorlet_core/vocabulary.h"

namespace zorlet_store::backend::lmdb {

namespace {

// A read transaction, or an unopened one when LMDB refuses.
Txn begin_read(MDB_env* env) {
  Txn txn;
  if (Txn::begin(env, false, txn) != MDB_SUCCESS) txn = Txn();
  return txn;
}

std::optional<uint64_t> seq_of_claim_id(const Txn& txn, MDB_dbi claim_id_idx, std::string_view claim_id) {
  std::string_view value;
  if (!key_fits(claim_id) || txn.get(claim_id_idx, claim_id, value) != MDB_SUCCESS) return std::nullopt;
  return codec::read_seq(value);
}

bool passes_filters(const Claim& c, const OptText& predicate_type, const OptText& source_type,
                    double min_confidence) {
  if (predicate_type && *predicate_type != c.predicate.predicate_type) return false;
  if (source_type && *source_type != c.provenance.source_type) return false;
  return c.confidence >= min_confidence;  // NaN on either side fails
}

}  // namespace

// ---- Shared read helpers ----

std::optional<Claim> LmdbBackend::load_claim(const Txn& txn, uint64_t seq) const {
  auto key = codec::seq_key(seq);
  std::string_view value;
  if (txn.get(dbs_.claims, codec::view(key), value) != MDB_SUCCESS) return std::nullopt;
  auto claim = codec::decompress_claim(value);
  if (!claim) return std::nullopt;
  return std::move(*claim);
}

std::vector<Claim> LmdbBackend::load_claims(const Txn& txn, const std::vector<uint64_t>& seqs) const {
  std::vector<Claim> out;
  out.reserve(seqs.size());
  for (uint64_t seq : seqs)
    if (auto c = load_claim(txn, seq)) out.push_back(std::move(*c));
  return out;
}

std::vector<uint64_t> LmdbBackend::dup_seqs(const Txn& txn, MDB_dbi dbi, std::string_view key) const {
  std::vector<uint64_t> out;
  if (!key_fits(key)) return out;
  Cursor cur;
  if (Cursor::open(txn, dbi, cur) != MDB_SUCCESS) return out;
  std::string_view k = key, v;
  for (int rc = cur.get(MDB_SET_KEY, k, v); rc == MDB_SUCCESS; rc = cur.get(MDB_NEXT_DUP, k, v))
    if (auto seq = codec::read_seq(v)) out.push_back(*seq);
  return out;
}

namespace {

// Sequence numbers of the claims touching any of `ids`, each once, at its
// first sighting.
std::vector<uint64_t> entity_seqs(const LmdbBackend& b, const Txn& txn, const StringSet& ids) {
  std::vector<uint64_t> seqs;
  if (ids.size() == 1) return b.dup_seqs(txn, b.dbs().entity_claims_idx, *ids.begin());
  std::unordered_set<uint64_t> seen;
  for (const std::string& id : ids)
    for (uint64_t seq : b.dup_seqs(txn, b.dbs().entity_claims_idx, id))
      if (seen.insert(seq).second) seqs.push_back(seq);
  return seqs;
}

}  // namespace

std::vector<Claim> LmdbBackend::claims_for_entities(const Txn& txn, const StringSet& ids) const {
  return load_claims(txn, entity_seqs(*this, txn, ids));
}

std::optional<codec::ClaimSummary> LmdbBackend::load_summary_by_seq(const Txn& txn, uint64_t seq) const {
  auto key = codec::seq_key(seq);
  std::string_view value;
  if (txn.get(dbs_.claim_summaries, codec::view(key), value) == MDB_SUCCESS)
    if (auto summary = codec::decode_summary(value)) return std::move(*summary);
  if (auto claim = load_claim(txn, seq)) return codec::summary_of(*claim);
  return std::nullopt;
}

void LmdbBackend::apply_tombstone_overlay(Claim& claim) const {
  if (view_.is_tombstoned(claim.claim_id)) claim.status = ClaimStatus::Tombstoned;
}

std::vector<Claim> LmdbBackend::visible_claims(const Txn& txn, const std::vector<uint64_t>& seqs) const {
  std::vector<Claim> out;
  out.reserve(seqs.size());
  for (uint64_t seq : seqs) {
    auto c = load_claim(txn, seq);
    if (!c || !view_.visible(c->claim_id, c->ns)) continue;
    apply_tombstone_overlay(*c);
    out.push_back(std::move(*c));
  }
  return out;
}

std::vector<Claim> LmdbBackend::claims_by_str_index(MDB_dbi dbi, const std::string& key) {
  MDB_env* e = env();
  Txn txn = begin_read(e);
  if (!txn) return {};
  const std::vector<uint64_t> seqs = dup_seqs(txn, dbi, key);
  return visible_claims(txn, seqs);
}

// ---- Lookups ----

std::optional<Claim> LmdbBackend::get_claim(const std::string& claim_id) {
  Txn txn = begin_read(env());
  if (!txn) return std::nullopt;
  auto seq = seq_of_claim_id(txn, dbs_.claim_id_idx, claim_id);
  if (!seq) return std::nullopt;
  auto claim = load_claim(txn, *seq);
  if (!claim) return std::nullopt;
  std::string_view status;
  if (txn.get(dbs_.status_overrides, claim_id, status) == MDB_SUCCESS && !status.empty()) {
    auto code = static_cast<uint8_t>(status[0]);
    claim->status = zorlet_core::types::status_from_code(code).value_or(ClaimStatus::Active);
  }
  apply_tombstone_overlay(*claim);
  return claim;
}

bool LmdbBackend::claim_exists(const std::string& claim_id) {
  Txn txn = begin_read(env());
  if (!txn || !key_fits(claim_id)) return false;
  std::string_view value;
  return txn.get(dbs_.claim_id_idx, claim_id, value) == MDB_SUCCESS;
}

uint64_t LmdbBackend::count_claims() {
  Txn txn = begin_read(env());
  if (!txn) return 0;
  return txn.entries(dbs_.claims).value_or(0);
}

std::vector<Claim> LmdbBackend::all_claims(uint64_t offset, uint64_t limit) {
  Txn txn = begin_read(env());
  if (!txn) return {};
  Cursor cur;
  if (Cursor::open(txn, dbs_.claims, cur) != MDB_SUCCESS) return {};
  std::vector<Claim> out;
  uint64_t skipped = 0;
  std::string_view k, v;
  for (int rc = cur.get(MDB_FIRST, k, v); rc == MDB_SUCCESS; rc = cur.get(MDB_NEXT, k, v)) {
    if (limit != 0 && out.size() >= limit) break;
    auto c = codec::decompress_claim(v);
    if (!c || !view_.visible(c->claim_id, c->ns)) continue;
    if (skipped < offset) {
      ++skipped;
      continue;
    }
    apply_tombstone_overlay(*c);
    out.push_back(std::move(*c));
  }
  return out;
}

std::vector<Claim> LmdbBackend::most_recent_claims(uint64_t n) {
  MDB_env* e = env();
  if (n == 0) return {};
  Txn txn = begin_read(e);
  if (!txn) return {};
  Cursor cur;
  if (Cursor::open(txn, dbs_.claims, cur) != MDB_SUCCESS) return {};
  std::vector<Claim> out;
  std::string_view k, v;
  for (int rc = cur.get(MDB_LAST, k, v); rc == MDB_SUCCESS && out.size() < n; rc = cur.get(MDB_PREV, k, v)) {
    auto c = codec::decompress_claim(v);
    if (!c || !view_.visible(c->claim_id, c->ns)) continue;
    apply_tombstone_overlay(*c);
    out.push_back(std::move(*c));
  }
  // The most recently inserted claims, shown newest timestamp first; equal
  // timestamps keep their descending insertion order.
  std::stable_sort(out.begin(), out.end(), [](const Claim& a, const Claim& b) { return a.timestamp > b.timestamp; });
  return out;
}

std::vector<Claim> LmdbBackend::claims_for(const std::string& entity_id, const OptText& predicate_type,
                                           const OptText& source_type, double min_confidence, uint64_t limit) {
  MDB_env* e = env();
  StringSet group = alias_group_of(entity_id);
  Txn txn = begin_read(e);
  if (!txn) return {};
  std::vector<Claim> out;
  const std::vector<uint64_t> seqs = entity_seqs(*this, txn, group);
  out.reserve(limit != 0 ? std::min<uint64_t>(limit, seqs.size()) : seqs.size());
  // Claims are decoded one at a time so that a limit stops the work early.
  for (uint64_t seq : seqs) {
    if (limit != 0 && out.size() >= limit) break;
    auto c = load_claim(txn, seq);
    if (!c || !view_.visible(c->claim_id, c->ns)) continue;
    if (!passes_filters(*c, predicate_type, source_type, min_confidence)) continue;
    apply_tombstone_overlay(*c);
    out.push_back(std::move(*c));
  }
  return out;
}

std::vector<Claim> LmdbBackend::claims_by_source_id(const std::string& source_id) {
  return claims_by_str_index(dbs_.source_idx, source_id);
}

std::vector<Claim> LmdbBackend::claims_by_content_id(const std::string& content_id) {
  return claims_by_str_index(dbs_.content_id_idx, content_id);
}

std::vector<Claim> LmdbBackend::claims_by_predicate_id(const std::string& predicate_id) {
  return claims_by_str_index(dbs_.predicate_idx, predicate_id);
}

// Timestamp keys are big-endian two's complement without a sign flip, so in
// key order the non-negative timestamps come first and the negative ones
// after them. A range is therefore walked as up to two key runs, negative
// part first, which returns claims in ascending timestamp order and finds
// every claim of a range that spans zero.
std::vector<Claim> LmdbBackend::claims_in_range(int64_t min_ts, int64_t max_ts) {
  MDB_env* e = env();
  if (min_ts > max_ts) return {};
  Txn txn = begin_read(e);
  if (!txn) return {};
  Cursor cur;
  if (Cursor::open(txn, dbs_.timestamp_idx, cur) != MDB_SUCCESS) return {};

  std::vector<uint64_t> seqs;
  auto walk = [&](int64_t lo, int64_t hi) {
    auto lo_key = codec::timestamp_key(lo), hi_key = codec::timestamp_key(hi);
    std::string_view hi_view = codec::view(hi_key);
    std::string_view k = codec::view(lo_key), v;
    for (int rc = cur.get(MDB_SET_RANGE, k, v); rc == MDB_SUCCESS && k <= hi_view; rc = cur.get(MDB_NEXT, k, v))
      if (auto seq = codec::read_seq(v)) seqs.push_back(*seq);
  };
  if (min_ts < 0) walk(min_ts, std::min<int64_t>(max_ts, -1));
  if (max_ts >= 0) walk(std::max<int64_t>(min_ts, 0), max_ts);

  return visible_claims(txn, seqs);
}

std::vector<std::string> LmdbBackend::get_claim_provenance_chain(const std::string& claim_id) {
  Txn txn = begin_read(env());
  if (!txn) return {};
  auto seq = seq_of_claim_id(txn, dbs_.claim_id_idx, claim_id);
  if (!seq) return {};
  auto claim = load_claim(txn, *seq);
  if (!claim) return {};
  return std::move(claim->provenance.chain);
}

uint32_t LmdbBackend::corroboration_count(const std::string& content_id) {
  Txn txn = begin_read(env());
  if (!txn) return 1;
  if (!key_fits(content_id)) return 0;
  Cursor cur;
  if (Cursor::open(txn, dbs_.content_id_idx, cur) != MDB_SUCCESS) return 0;
  std::string_view k = content_id, v;
  if (cur.get(MDB_SET_KEY, k, v) != MDB_SUCCESS) return 0;
  size_t n = 0;
  if (cur.count(n) != MDB_SUCCESS) return 0;
  return static_cast<uint32_t>(n);
}

}  // namespace zorlet_store::backend::lmdb
