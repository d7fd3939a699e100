// The claim write path and index maintenance. (Being built.)
#include "backend/lmdb/lmdb_backend.h"

namespace zorlet_store::backend::lmdb {

Result<void> LmdbBackend::write_claim_to_txn(Txn&, uint64_t, const Claim&) { return {}; }
void LmdbBackend::apply_alias_predicate(const Claim&) {}
bool LmdbBackend::insert_claim(Claim) { return false; }
uint64_t LmdbBackend::insert_claims_batch(std::vector<Claim>) { return 0; }

}  // namespace zorlet_store::backend::lmdb
