// Claim lookups. (Being built.)
#include "backend/lmdb/lmdb_backend.h"

namespace zorlet_store::backend::lmdb {

std::optional<Claim> LmdbBackend::load_claim(const Txn&, uint64_t) const { return std::nullopt; }
std::vector<Claim> LmdbBackend::load_claims(const Txn&, const std::vector<uint64_t>&) const { return {}; }
std::vector<uint64_t> LmdbBackend::dup_seqs(const Txn&, MDB_dbi, std::string_view) const { return {}; }
std::vector<Claim> LmdbBackend::claims_for_entities(const Txn&, const StringSet&) const { return {}; }
std::optional<codec::ClaimSummary> LmdbBackend::load_summary_by_seq(const Txn&, uint64_t) const { return std::nullopt; }
std::vector<Claim> LmdbBackend::claims_by_str_index(MDB_dbi, const std::string&) { return {}; }
void LmdbBackend::apply_tombstone_overlay(Claim&) const {}
std::optional<Claim> LmdbBackend::get_claim(const std::string&) { return std::nullopt; }
bool LmdbBackend::claim_exists(const std::string&) { return false; }
uint64_t LmdbBackend::count_claims() { env(); return 0; }
std::vector<Claim> LmdbBackend::all_claims(uint64_t, uint64_t) { return {}; }
std::vector<Claim> LmdbBackend::most_recent_claims(uint64_t) { return {}; }
std::vector<Claim> LmdbBackend::claims_for(const std::string&, const OptText&, const OptText&, double, uint64_t) { return {}; }
std::vector<Claim> LmdbBackend::claims_for_with_inverse(const std::string&, const OptText&, const OptText&, double, bool) { return {}; }
std::vector<Claim> LmdbBackend::claims_by_source_id(const std::string&) { return {}; }
std::vector<Claim> LmdbBackend::claims_by_content_id(const std::string&) { return {}; }
std::vector<Claim> LmdbBackend::claims_by_predicate_id(const std::string&) { return {}; }
std::vector<Claim> LmdbBackend::claims_in_range(int64_t, int64_t) { return {}; }
std::vector<std::string> LmdbBackend::get_claim_provenance_chain(const std::string&) { return {}; }
uint32_t LmdbBackend::corroboration_count(const std::string&) { return 0; }

}  // namespace zorlet_store::backend::lmdb
