// Opening, flushing and closing the persistent store, and its schema version.
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "backend/lmdb/lmdb_backend.h"
#include "zorlet_core/log.h"

namespace zorlet_store::backend::lmdb {

using zorlet_core::errors::fail;
using zorlet_core::errors::InternalFault;

namespace {

constexpr uint64_t kGiB = 1073741824ull;
constexpr uint64_t kMinWritableMap = 10 * kGiB;
constexpr unsigned kMaxReaders = 512;

std::optional<uint64_t> data_file_size(const std::string& dir) {
  struct stat st;
  std::string file = dir + "/data.mdb";
  if (::stat(file.c_str(), &st) != 0) return std::nullopt;
  return static_cast<uint64_t>(st.st_size);
}

uint64_t round_up_gib(long double bytes) {
  auto gib = static_cast<uint64_t>((bytes + kGiB - 1) / kGiB);
  return gib * kGiB;
}

// The larger of 10 GiB and four times data.mdb, in whole GiB.
uint64_t writable_map_size(const std::string& dir) {
  auto size = data_file_size(dir);
  if (!size) return kMinWritableMap;
  uint64_t four = round_up_gib(static_cast<long double>(*size) * 4);
  return std::max(kMinWritableMap, four);
}

bool is_lock_conflict(std::string_view text) {
  return text.find("lock") != std::string_view::npos || text.find("busy") != std::string_view::npos ||
         text.find("Resource temporarily unavailable") != std::string_view::npos;
}

constexpr std::string_view kMetaNextSeq = "next_seq";
constexpr std::string_view kMetaSchema = "schema_version";
constexpr std::string_view kMetaAliases = "aliases";
constexpr std::string_view kMetaMetadata = "metadata";

}  // namespace

Result<Dbs> create_databases(MDB_env* env) {
  Txn txn;
  if (int rc = Txn::begin(env, true, txn); rc != MDB_SUCCESS) return fail("begin_write", lmdb_text(rc));
  Dbs d;
  struct Database {
    MDB_dbi* dbi;
    const char* name;
    bool dup;
  };
  const Database databases[] = {
      {&d.claims, "claims", false},
      {&d.claim_id_idx, "claim_id_idx", false},
      {&d.entities, "entities", false},
      {&d.meta_blobs, "meta_blobs", false},
      {&d.status_overrides, "status_overrides", false},
      {&d.pred_type_counts, "pred_type_counts", false},
      {&d.src_type_counts, "src_type_counts", false},
      {&d.entity_type_counts, "entity_type_counts", false},
      {&d.pred_id_counts, "pred_id_counts", false},
      {&d.claim_summaries, "claim_summaries", false},
      {&d.entity_pred_counts, "entity_pred_counts", false},
      {&d.entity_src_counts, "entity_src_counts", false},
      {&d.pred_pair_counts, "pred_pair_counts", false},
      {&d.content_id_idx, "content_id_idx", true},
      {&d.entity_claims_idx, "entity_claims_idx", true},
      {&d.adjacency_idx, "adjacency_idx", true},
      {&d.timestamp_idx, "timestamp_idx", true},
      {&d.source_idx, "source_idx", true},
      {&d.predicate_idx, "predicate_idx", true},
      {&d.namespace_idx, "namespace_idx", true},
      {&d.project_idx, "project_idx", true},
      {&d.entity_type_idx, "entity_type_idx", true},
      {&d.text_idx, "text_idx", true},
      {&d.causal_adj, "causal_adj", true},
  };
  for (size_t i = 0; i < std::size(databases); ++i) {
    const Database& s = databases[i];
    unsigned flags = MDB_CREATE | (s.dup ? MDB_DUPSORT : 0);
    if (int rc = mdb_dbi_open(txn.get(), s.name, flags, s.dbi); rc != MDB_SUCCESS) {
      const char* context = i == 0 ? "create db claims" : (s.dup ? "create dup db" : "create db");
      return fail(context, lmdb_text(rc));
    }
  }
  if (int rc = txn.commit(); rc != MDB_SUCCESS) return fail("commit", lmdb_text(rc));
  return d;
}

MDB_env* LmdbBackend::env() const {
  if (!env_) throw InternalFault(kClosedFault);
  return env_->get();
}

Result<std::unique_ptr<LmdbBackend>> LmdbBackend::open(const std::string& path) {
  std::error_code ec;
  std::filesystem::create_directories(path, ec);
  if (ec) return fail("create directory", ec.message());
  EnvSettings settings{OpenKind::Writable, writable_map_size(path), kMaxReaders, 32, 0};
  auto env = open_environment(path, settings, "open LMDB environment");
  if (!env) {
    const std::string& text = env.error().payload();
    if (is_lock_conflict(text))
      return fail(zorlet_core::errors::ZorletError::provenance(
          "failed to open database: Database already open. Cannot acquire lock. (underlying: " + text + ")"));
    return fail(env.error());
  }
  int dead = 0;
  mdb_reader_check((*env)->get(), &dead);  // result ignored: pruning is best effort
  auto backend = assemble(std::move(*env), path, false);
  if (!backend) return backend;

  // Bring the schema version forward to the current one; nothing is migrated.
  LmdbBackend& b = **backend;
  uint32_t stored = 0;
  {
    Txn txn;
    if (int rc = Txn::begin(b.env(), false, txn); rc != MDB_SUCCESS) return fail("begin_read", lmdb_text(rc));
    std::string_view value;
    int rc = txn.get(b.dbs_.meta_blobs, kMetaSchema, value);
    if (rc == MDB_SUCCESS && value.size() >= 4) std::memcpy(&stored, value.data(), 4);  // little-endian host
    else if (rc != MDB_SUCCESS && rc != MDB_NOTFOUND) return fail("get", lmdb_text(rc));
    txn.abort();
  }
  if (stored < kSchemaVersion) {
    Txn txn;
    if (int rc = Txn::begin(b.env(), true, txn); rc != MDB_SUCCESS) return fail("begin_write", lmdb_text(rc));
    auto bytes = codec::encode_u32_le(kSchemaVersion);
    if (int rc = txn.put(b.dbs_.meta_blobs, kMetaSchema, {bytes.data(), bytes.size()}); rc != MDB_SUCCESS)
      return fail("put", lmdb_text(rc));
    if (int rc = txn.commit(); rc != MDB_SUCCESS) return fail("commit", lmdb_text(rc));
  }
  return backend;
}

Result<std::unique_ptr<LmdbBackend>> LmdbBackend::open_read_only(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0)
    return fail(zorlet_core::errors::ZorletError::provenance("database not found: " + path));
  uint64_t map = kGiB;
  if (auto size = data_file_size(path)) map = std::max(kGiB, round_up_gib(static_cast<long double>(*size) * 1.5L));
  EnvSettings settings{OpenKind::ReadOnly, map, kMaxReaders, 32, 0};
  auto env = open_environment(path, settings, "open read-only LMDB");
  if (!env) return fail(env.error());
  int dead = 0;
  mdb_reader_check((*env)->get(), &dead);
  return assemble(std::move(*env), path, true);
}

Result<std::unique_ptr<LmdbBackend>> LmdbBackend::assemble(EnvPtr env, std::string path, bool read_only) {
  auto dbs = create_databases(env->get());
  if (!dbs) return fail(dbs.error());
  std::unique_ptr<LmdbBackend> b(new LmdbBackend());
  b->env_ = std::move(env);
  b->path_ = std::move(path);
  b->dbs_ = *dbs;
  b->read_only_ = read_only;

  Txn txn;
  if (int rc = Txn::begin(b->env(), false, txn); rc != MDB_SUCCESS) return fail("begin_read", lmdb_text(rc));

  // next_seq: never behind the claims table, whatever the stored value says
  // (an instance released without close() never wrote it).
  uint64_t stored_next = 0;
  std::string_view value;
  int rc = txn.get(b->dbs_.meta_blobs, kMetaNextSeq, value);
  if (rc == MDB_SUCCESS && value.size() >= 8) std::memcpy(&stored_next, value.data(), 8);
  else if (rc != MDB_SUCCESS && rc != MDB_NOTFOUND) return fail("get next_seq", lmdb_text(rc));
  uint64_t after_last = 0;
  {
    Cursor cur;
    if (int crc = Cursor::open(txn, b->dbs_.claims, cur); crc != MDB_SUCCESS) return fail("claims last", lmdb_text(crc));
    std::string_view k, v;
    int lrc = cur.get(MDB_LAST, k, v);
    if (lrc == MDB_SUCCESS) {
      if (auto seq = codec::read_seq(k)) after_last = *seq + 1;
    } else if (lrc != MDB_NOTFOUND) {
      return fail("claims last", lmdb_text(lrc));
    }
  }
  b->next_seq_ = std::max(stored_next, after_last);

  auto load_blob = [&](std::string_view key, auto decode, auto& target) -> Result<void> {
    std::string_view bytes;
    int grc = txn.get(b->dbs_.meta_blobs, key, bytes);
    if (grc == MDB_NOTFOUND) return {};
    if (grc != MDB_SUCCESS) return fail("get meta", lmdb_text(grc));
    auto decoded = decode(bytes);
    if (!decoded) {
      zorlet_core::log::warn(kLogTarget, "Failed to deserialize " + std::string(key) + ": " + decoded.error());
      return {};
    }
    target = std::move(*decoded);
    return {};
  };
  if (auto r = load_blob(kMetaAliases, codec::decode_aliases, b->aliases_); !r) return fail(r.error());
  if (auto r = load_blob(kMetaMetadata, codec::decode_metadata, b->metadata_); !r) return fail(r.error());

  {
    Cursor cur;
    if (int crc = Cursor::open(txn, b->dbs_.status_overrides, cur); crc != MDB_SUCCESS)
      return fail("iter status_overrides", lmdb_text(crc));
    std::string_view k, v;
    for (int src = cur.get(MDB_FIRST, k, v); src == MDB_SUCCESS; src = cur.get(MDB_NEXT, k, v)) {
      if (!v.empty() && static_cast<uint8_t>(v[0]) == 2) b->view_.tombstoned_ids.emplace(k);
    }
  }
  txn.abort();
  return b;
}

Result<void> LmdbBackend::store_next_seq(Txn& txn, uint64_t next) {
  auto bytes = codec::encode_u64_le(next);
  if (int rc = txn.put(dbs_.meta_blobs, kMetaNextSeq, {bytes.data(), bytes.size()}); rc != MDB_SUCCESS)
    return fail("put next_seq", lmdb_text(rc));
  return {};
}

uint64_t LmdbBackend::allocate_seq_base(Txn& txn) {
  uint64_t stored = 0;
  std::string_view value;
  if (txn.get(dbs_.meta_blobs, kMetaNextSeq, value) == MDB_SUCCESS && value.size() >= 8)
    std::memcpy(&stored, value.data(), 8);
  next_seq_ = std::max(next_seq_, stored);
  return next_seq_;
}

Result<void> LmdbBackend::flush_in_memory_state() {
  if (!env_) throw InternalFault("LMDB environment already closed");
  if (read_only_) return {};  // its dirty flags are never set; nothing to write
  Txn txn;
  if (int rc = Txn::begin(env(), true, txn); rc != MDB_SUCCESS) return fail("begin_write", lmdb_text(rc));
  if (aliases_dirty_) {
    std::string bytes = codec::encode_aliases(aliases_);
    if (int rc = txn.put(dbs_.meta_blobs, kMetaAliases, bytes); rc != MDB_SUCCESS) return fail("put", lmdb_text(rc));
  }
  if (metadata_dirty_) {
    std::string bytes = codec::encode_metadata(metadata_);
    if (int rc = txn.put(dbs_.meta_blobs, kMetaMetadata, bytes); rc != MDB_SUCCESS) return fail("put", lmdb_text(rc));
  }
  // next_seq goes out on every flush so a reopened store never reuses a number.
  uint64_t next = allocate_seq_base(txn);
  if (auto r = store_next_seq(txn, next); !r) return r;
  if (int rc = txn.commit(); rc != MDB_SUCCESS) return fail("commit", lmdb_text(rc));
  aliases_dirty_ = false;
  metadata_dirty_ = false;
  return {};
}

Result<void> LmdbBackend::close() {
  if (!env_) return {};  // a second close finds nothing to do
  if (auto r = flush_in_memory_state(); !r) return r;
  // Release this instance's share; the environment itself closes when the
  // last share (another instance on the same directory) goes.
  env_.reset();
  return {};
}

uint32_t LmdbBackend::schema_version() {
  Txn txn;
  if (Txn::begin(env(), false, txn) != MDB_SUCCESS) return 2;
  std::string_view value;
  if (txn.get(dbs_.meta_blobs, kMetaSchema, value) != MDB_SUCCESS || value.size() < 4) return 2;
  uint32_t v = 0;
  std::memcpy(&v, value.data(), 4);
  return v;
}

StringSet LmdbBackend::alias_group_of(std::string_view entity_id) const {
  return canonical_group(resolve_id(entity_id));
}

void LmdbBackend::note_status(const std::string& claim_id, ClaimStatus status) {
  if (status == ClaimStatus::Tombstoned) view_.tombstoned_ids.insert(claim_id);
  else view_.tombstoned_ids.erase(claim_id);
}

}  // namespace zorlet_store::backend::lmdb
