// Status changes, purge and alias reset. (Being built.)
#include "backend/lmdb/lmdb_backend.h"

namespace zorlet_store::backend::lmdb {

Result<bool> LmdbBackend::update_claim_status(const std::string&, ClaimStatus) { return false; }
Result<uint64_t> LmdbBackend::update_claim_status_batch(std::vector<std::pair<std::string, ClaimStatus>>) { return 0; }
Result<uint64_t> LmdbBackend::purge_source(const std::string&) { return 0; }
Result<void> LmdbBackend::clear_aliases() { return {}; }

}  // namespace zorlet_store::backend::lmdb
