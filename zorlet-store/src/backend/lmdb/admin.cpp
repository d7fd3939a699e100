// Reader slots, compaction and statistics.
#include "backend/lmdb/lmdb_backend.h"

namespace zorlet_store::backend::lmdb {

Result<uint64_t> LmdbBackend::reader_check() {
  int dead = 0;
  if (int rc = mdb_reader_check(env(), &dead); rc != MDB_SUCCESS)
    return zorlet_core::errors::fail("clear_stale_readers", lmdb_text(rc));
  return static_cast<uint64_t>(dead);
}

std::pair<uint32_t, uint32_t> LmdbBackend::reader_info() {
  MDB_envinfo info;
  if (mdb_env_info(env(), &info) != MDB_SUCCESS) return {0, 0};
  return {info.me_numreaders, info.me_maxreaders};
}

Result<bool> LmdbBackend::compact() { return false; }
StoreStats LmdbBackend::stats() { env(); return {}; }

}  // namespace zorlet_store::backend::lmdb
