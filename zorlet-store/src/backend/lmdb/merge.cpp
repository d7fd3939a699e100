// Merging another store directory into this one.
//
// The source is opened as a second environment for the length of the merge
// and only read (apart from creating databases an older layout lacks).
// Entities go through the entity batch upsert, claims through the ordinary
// write path under fresh sequence numbers, status overrides through the
// status batch; every step commits in bounded transactions, so a merge that
// stops part-way leaves whole batches behind and can simply be repeated:
// claims already present are skipped by id.
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "backend/lmdb/lmdb_backend.h"
#include "zorlet_core/log.h"

namespace zorlet_store::backend::lmdb {

using zorlet_core::errors::fail;
using zorlet_core::errors::ZorletError;

namespace {

constexpr uint64_t kGiB = 1073741824ull;
constexpr size_t kEntityBatch = 10000;
constexpr size_t kClaimBatch = 100000;

// The larger of 1 GiB and 1.5 x data.mdb, in whole GiB (1 GiB when the file
// cannot be read).
uint64_t source_map_size(const std::string& dir) {
  struct stat st;
  std::string file = dir + "/data.mdb";
  if (::stat(file.c_str(), &st) != 0) return kGiB;
  long double wanted = static_cast<long double>(st.st_size) * 1.5L;
  auto gib = static_cast<uint64_t>((wanted + kGiB - 1) / kGiB);
  return std::max(kGiB, gib * kGiB);
}

int64_t now_seconds() {
  auto secs = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch());
  return std::max<int64_t>(0, secs.count());
}

struct Source {
  EnvPtr env;  // declared first: closed after every transaction below is gone
  Dbs dbs;
};

Result<Source> open_source(const std::string& path) {
  EnvSettings settings{OpenKind::MergeSource, source_map_size(path), 0, 32, 0};
  auto env = open_environment(path, settings, "open source LMDB");
  if (!env) return fail(env.error());
  auto dbs = create_databases((*env)->get());
  if (!dbs) return fail("open source LMDB", dbs.error().payload());
  return Source{std::move(*env), *dbs};
}

}  // namespace

Result<uint64_t> LmdbBackend::merge_from(const std::string& source_path) {
  MDB_env* target = env();
  std::error_code ec;
  if (!std::filesystem::exists(source_path, ec))
    return fail(ZorletError::provenance("merge_from: source database not found: " + source_path));

  auto opened = open_source(source_path);
  if (!opened) return fail(opened.error());
  Source source = std::move(*opened);
  MDB_env* src = source.env->get();

  // Entities, in batches; new ones are stamped with the merge time.
  {
    const int64_t stamp = now_seconds();
    Txn txn;
    if (int rc = Txn::begin(src, false, txn); rc != MDB_SUCCESS) return fail("begin_read source", lmdb_text(rc));
    Cursor cur;
    if (int rc = Cursor::open(txn, source.dbs.entities, cur); rc != MDB_SUCCESS)
      return fail("iter source entities", lmdb_text(rc));
    std::vector<EntityRow> rows;
    std::string_view k, v;
    int rc = cur.get(MDB_FIRST, k, v);
    for (; rc == MDB_SUCCESS; rc = cur.get(MDB_NEXT, k, v)) {
      auto entity = codec::decode_entity(v);
      if (!entity) continue;
      rows.push_back({std::move(entity->id), std::move(entity->entity_type), std::move(entity->display_name),
                      std::move(entity->external_ids)});
      if (rows.size() == kEntityBatch) {
        if (auto r = upsert_entities_batch(rows, stamp); !r) return fail(r.error());
        rows.clear();
      }
    }
    if (rc != MDB_NOTFOUND) return fail("read source entity", lmdb_text(rc));
    if (!rows.empty())
      if (auto r = upsert_entities_batch(rows, stamp); !r) return fail(r.error());
  }

  // Claims, re-written through the write path under fresh sequence numbers.
  uint64_t merged = 0;
  uint64_t start = 0;
  for (;;) {
    std::vector<Claim> batch;
    uint64_t read = 0;
    std::optional<uint64_t> last_seq;
    {
      Txn txn;
      if (int rc = Txn::begin(src, false, txn); rc != MDB_SUCCESS)
        return fail("range source claims", lmdb_text(rc));
      Cursor cur;
      if (int rc = Cursor::open(txn, source.dbs.claims, cur); rc != MDB_SUCCESS)
        return fail("range source claims", lmdb_text(rc));
      auto first = codec::seq_key(start);
      std::string_view k = codec::view(first), v;
      int rc = cur.get(MDB_SET_RANGE, k, v);
      if (rc != MDB_SUCCESS && rc != MDB_NOTFOUND) return fail("range source claims", lmdb_text(rc));
      while (rc == MDB_SUCCESS && read < kClaimBatch) {
        ++read;
        if (auto seq = codec::read_seq(k)) last_seq = *seq;
        if (auto claim = codec::decompress_claim(v)) batch.push_back(std::move(*claim));
        rc = cur.get(MDB_NEXT, k, v);
        if (rc != MDB_SUCCESS && rc != MDB_NOTFOUND) return fail("read source claim", lmdb_text(rc));
      }
    }

    if (!batch.empty()) {
      Txn txn;
      if (int rc = Txn::begin(target, true, txn); rc != MDB_SUCCESS) return fail("begin_write target", lmdb_text(rc));
      std::vector<const Claim*> run;
      run.reserve(batch.size());
      for (const Claim& claim : batch) run.push_back(&claim);
      auto written = write_claim_chunk(txn, run, "[merge_from]");
      if (!written) return fail(written.error());
      if (int rc = txn.commit(); rc != MDB_SUCCESS) return fail("commit merge", lmdb_text(rc));
      set_next_seq(written->next_seq);
      merged += written->stored.size();
      // Alias claims apply again even when the claim itself was already
      // here: uniting a group with itself changes nothing.
      for (const Claim& claim : batch) apply_alias_predicate(claim);
    }

    if (read < kClaimBatch || !last_seq || *last_seq == UINT64_MAX) break;
    start = *last_seq + 1;
  }

  // Status overrides: the source's current status replaces the target's.
  {
    std::vector<std::pair<std::string, ClaimStatus>> overrides;
    {
      Txn txn;
      if (int rc = Txn::begin(src, false, txn); rc != MDB_SUCCESS)
        return fail("begin_read source overrides", lmdb_text(rc));
      Cursor cur;
      if (int rc = Cursor::open(txn, source.dbs.status_overrides, cur); rc != MDB_SUCCESS)
        return fail("iter source status_overrides", lmdb_text(rc));
      std::string_view k, v;
      int rc = cur.get(MDB_FIRST, k, v);
      for (; rc == MDB_SUCCESS; rc = cur.get(MDB_NEXT, k, v)) {
        if (v.empty() || static_cast<uint8_t>(v[0]) > 6) continue;  // not a status byte
        overrides.emplace_back(std::string(k), static_cast<ClaimStatus>(static_cast<uint8_t>(v[0])));
      }
      if (rc != MDB_NOTFOUND) return fail("read source override", lmdb_text(rc));
    }
    if (!overrides.empty()) {
      auto applied = update_claim_status_batch(std::move(overrides));
      if (!applied) return fail(applied.error());
      zorlet_core::log::info(kLogTarget, "merge_from: transferred " + std::to_string(*applied) + " status overrides");
    }
  }

  if (auto r = flush_in_memory_state(); !r) return fail(r.error());
  source = Source{};  // closes the source environment now, not at scope end
  zorlet_core::log::info(kLogTarget, "merge_from: merged " + std::to_string(merged) + " claims from " + source_path);
  return merged;
}

}  // namespace zorlet_store::backend::lmdb
