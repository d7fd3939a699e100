// Status changes, purge and alias reset.
//
// A status change never rewrites the (compressed, immutable) claim: it puts
// one byte, the status code, under the claim id in `status_overrides`. The
// in-memory `tombstoned_ids` follows only after the commit, so a lookup can
// never hide a claim whose retraction did not reach the disk.
//
// A purge is the one physical removal: per claim it deletes `claims[seq]`,
// `claim_id_idx[claim_id]` and `claim_summaries[seq]`, nothing else. Every
// other index keeps its entries; lookups skip sequence numbers whose claim
// record is gone, and `compact` reclaims the space.
#include <algorithm>
#include <span>

#include "backend/lmdb/lmdb_backend.h"
#include "zorlet_core/log.h"

namespace zorlet_store::backend::lmdb {

using zorlet_core::errors::fail;

namespace {

// Claims per purge transaction: bounds the size of one write.
constexpr size_t kPurgeChunk = 10000;

constexpr std::string_view kSameAs = "same_as";

bool has_claim(const Txn& txn, MDB_dbi claim_id_idx, std::string_view claim_id) {
  std::string_view seq;
  return key_fits(claim_id) && txn.get(claim_id_idx, claim_id, seq) == MDB_SUCCESS;
}

int put_status(Txn& txn, MDB_dbi status_overrides, std::string_view claim_id, ClaimStatus status) {
  const char code = static_cast<char>(status);
  return txn.put(status_overrides, claim_id, std::string_view(&code, 1));
}

// Every sequence number under `source_id` in `source_idx`, in index order.
Result<std::vector<uint64_t>> source_seqs(MDB_env* env, MDB_dbi source_idx, std::string_view source_id) {
  std::vector<uint64_t> seqs;
  Txn txn;
  if (int rc = Txn::begin(env, false, txn); rc != MDB_SUCCESS) return fail("purge read_txn", lmdb_text(rc));
  if (!key_fits(source_id)) return seqs;  // such a key was never written
  Cursor cur;
  if (int rc = Cursor::open(txn, source_idx, cur); rc != MDB_SUCCESS) return fail("purge source_idx iter", lmdb_text(rc));
  std::string_view k = source_id, v;
  int rc = cur.get(MDB_SET_KEY, k, v);
  if (rc == MDB_NOTFOUND) return seqs;
  if (rc != MDB_SUCCESS) return fail("purge source_idx iter", lmdb_text(rc));
  for (; rc == MDB_SUCCESS; rc = cur.get(MDB_NEXT_DUP, k, v))
    if (auto seq = codec::read_seq(v)) seqs.push_back(*seq);
  if (rc != MDB_NOTFOUND) return fail("purge source_idx item", lmdb_text(rc));
  return seqs;
}

}  // namespace

Result<bool> LmdbBackend::update_claim_status(const std::string& claim_id, ClaimStatus status) {
  MDB_env* e = env();
  Txn txn;
  if (int rc = Txn::begin(e, true, txn); rc != MDB_SUCCESS) return fail("begin_write", lmdb_text(rc));
  // The existence test runs in the writing transaction itself, so no other
  // writer can remove the claim between the test and the put.
  if (!has_claim(txn, dbs_.claim_id_idx, claim_id)) return false;
  if (int rc = put_status(txn, dbs_.status_overrides, claim_id, status); rc != MDB_SUCCESS)
    return fail("put status", lmdb_text(rc));
  if (int rc = txn.commit(); rc != MDB_SUCCESS) return fail("commit", lmdb_text(rc));
  note_status(claim_id, status);
  return true;
}

Result<uint64_t> LmdbBackend::update_claim_status_batch(std::vector<std::pair<std::string, ClaimStatus>> updates) {
  MDB_env* e = env();
  if (updates.empty()) return 0;
  Txn txn;
  if (int rc = Txn::begin(e, true, txn); rc != MDB_SUCCESS) return fail("begin_write", lmdb_text(rc));
  std::vector<size_t> written;
  written.reserve(updates.size());
  for (size_t i = 0; i < updates.size(); ++i) {
    const auto& [claim_id, status] = updates[i];
    if (!has_claim(txn, dbs_.claim_id_idx, claim_id)) continue;
    if (put_status(txn, dbs_.status_overrides, claim_id, status) == MDB_SUCCESS) written.push_back(i);
  }
  if (int rc = txn.commit(); rc != MDB_SUCCESS) return fail("commit", lmdb_text(rc));
  // List order, so that an id listed twice ends with its last status here too.
  for (size_t i : written) note_status(updates[i].first, updates[i].second);
  return written.size();
}

Result<uint64_t> LmdbBackend::purge_source(const std::string& source_id) {
  MDB_env* e = env();
  if (read_only_) return fail(ZorletError::read_only());
  auto seqs = source_seqs(e, dbs_.source_idx, source_id);
  if (!seqs) return fail(seqs.error());
  if (seqs->empty()) return 0;

  uint64_t purged = 0;
  bool same_as_purged = false;
  std::span<const uint64_t> rest(*seqs);
  while (!rest.empty()) {
    std::span<const uint64_t> chunk = rest.first(std::min(rest.size(), kPurgeChunk));
    rest = rest.subspan(chunk.size());
    Txn txn;
    if (int rc = Txn::begin(e, true, txn); rc != MDB_SUCCESS) return fail("purge write_txn", lmdb_text(rc));
    for (uint64_t seq : chunk) {
      auto key = codec::seq_key(seq);
      std::string_view value;
      if (txn.get(dbs_.claims, codec::view(key), value) != MDB_SUCCESS) continue;  // purged already
      auto claim = codec::decompress_claim(value);
      if (!claim) continue;
      // Deletion failures are ignored: the claim record is what makes a
      // claim visible, and its absence is what lookups test.
      txn.del(dbs_.claims, codec::view(key));
      // Only drop the id entry while it still names this claim.
      std::string_view indexed;
      if (key_fits(claim->claim_id) && txn.get(dbs_.claim_id_idx, claim->claim_id, indexed) == MDB_SUCCESS &&
          codec::read_seq(indexed) == seq)
        txn.del(dbs_.claim_id_idx, claim->claim_id);
      txn.del(dbs_.claim_summaries, codec::view(key));
      same_as_purged = same_as_purged || claim->predicate.id == kSameAs;
      ++purged;
    }
    if (int rc = txn.commit(); rc != MDB_SUCCESS) return fail("purge commit", lmdb_text(rc));
  }
  if (same_as_purged) {
    zorlet_core::log::info(kLogTarget, "purge_source: same_as claims purged, rebuilding aliases");
    if (auto r = clear_aliases(); !r) return fail(r.error());
  }
  return purged;
}

Result<void> LmdbBackend::clear_aliases() {
  MDB_env* e = env();
  if (read_only_) return fail(ZorletError::read_only());
  aliases_ = union_find::UnionFind{};
  mark_aliases_dirty();
  if (auto r = flush_in_memory_state(); !r) return r;

  std::vector<Claim> same_as;
  {
    Txn txn;
    if (int rc = Txn::begin(e, false, txn); rc != MDB_SUCCESS) return fail("clear_aliases read", lmdb_text(rc));
    same_as = load_claims(txn, dup_seqs(txn, dbs_.predicate_idx, kSameAs));
  }
  // "not_same_as" claims are not replayed: the groups become exactly the
  // union of the remaining "same_as" claims, whatever their status.
  for (const Claim& claim : same_as) aliases_.unite(claim.subject.id, claim.object.id);
  mark_aliases_dirty();
  return flush_in_memory_state();
}

}  // namespace zorlet_store::backend::lmdb
