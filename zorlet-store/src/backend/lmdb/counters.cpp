// Counter rebuild and backfills. (Being built.)
#include "backend/lmdb/lmdb_backend.h"

namespace zorlet_store::backend::lmdb {

Result<void> LmdbBackend::rebuild_counters() { return {}; }
Result<uint64_t> LmdbBackend::rebuild_causal_adj() { return 0; }
Result<uint64_t> LmdbBackend::backfill_pred_id_counts() { return 0; }
Result<uint64_t> LmdbBackend::backfill_claim_summaries() { return 0; }
Result<uint64_t> LmdbBackend::backfill_analytics_counters() { return 0; }

}  // namespace zorlet_store::backend::lmdb
