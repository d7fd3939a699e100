// In-memory backend: state, writes and lookups. (Being built.)
#include "backend/memory/memory_backend.h"

namespace zorlet_store::backend::memory {

StoreStats MemoryBackend::stats() { return {}; }
bool MemoryBackend::insert_claim(Claim) { return false; }
uint64_t MemoryBackend::insert_claims_batch(std::vector<Claim>) { return 0; }
Result<bool> MemoryBackend::update_claim_status(const std::string&, ClaimStatus) { return false; }
Result<uint64_t> MemoryBackend::update_claim_status_batch(std::vector<std::pair<std::string, ClaimStatus>>) { return 0; }
std::optional<Claim> MemoryBackend::get_claim(const std::string&) { return std::nullopt; }
bool MemoryBackend::claim_exists(const std::string&) { return false; }
uint64_t MemoryBackend::count_claims() { return 0; }
std::vector<Claim> MemoryBackend::all_claims(uint64_t, uint64_t) { return {}; }
std::vector<Claim> MemoryBackend::most_recent_claims(uint64_t) { return {}; }
std::vector<Claim> MemoryBackend::claims_for(const std::string&, const OptText&, const OptText&, double, uint64_t) { return {}; }
std::vector<Claim> MemoryBackend::claims_for_with_inverse(const std::string&, const OptText&, const OptText&, double, bool) { return {}; }
std::vector<Claim> MemoryBackend::claims_by_source_id(const std::string&) { return {}; }
std::vector<Claim> MemoryBackend::claims_by_content_id(const std::string&) { return {}; }
std::vector<Claim> MemoryBackend::claims_by_predicate_id(const std::string&) { return {}; }
std::vector<Claim> MemoryBackend::claims_in_range(int64_t, int64_t) { return {}; }
std::vector<std::string> MemoryBackend::get_claim_provenance_chain(const std::string&) { return {}; }
uint32_t MemoryBackend::corroboration_count(const std::string&) { return 0; }
void MemoryBackend::upsert_entity(const std::string&, const std::string&, const std::string&, const std::optional<StringMap>&, int64_t) {}
Result<void> MemoryBackend::upsert_entities_batch(const std::vector<EntityRow>&, int64_t) { return {}; }
bool MemoryBackend::update_display_name(const std::string&, const std::string&) { return false; }
std::optional<EntitySummary> MemoryBackend::get_entity(const std::string&) { return std::nullopt; }
EntityNames MemoryBackend::get_entities_batch(const std::vector<std::string>&) { return {}; }
std::vector<EntitySummary> MemoryBackend::list_entities(const OptText&, uint64_t, uint64_t, uint64_t) { return {}; }
uint64_t MemoryBackend::count_entities(const OptText&, uint64_t) { return 0; }
std::vector<EntitySummary> MemoryBackend::search_entities(const std::string&, uint64_t) { return {}; }
std::vector<std::string> MemoryBackend::neighbors(const std::string&) { return {}; }
std::vector<std::pair<Claim, uint64_t>> MemoryBackend::bfs_claims(const std::string&, uint64_t) { return {}; }
bool MemoryBackend::path_exists(const std::string&, const std::string&, uint64_t) { return false; }
AdjacencyMap MemoryBackend::get_adjacency_list() { return {}; }
std::vector<ClosureEntry> MemoryBackend::transitive_closure(const std::string&, const StringSet&, uint64_t) { return {}; }
std::vector<CausalEdge> MemoryBackend::outgoing_causal_edges(const std::string&, const StringSet&) { return {}; }
std::unordered_map<std::string, uint64_t> MemoryBackend::predicate_counts() { return {}; }
std::vector<PredicateCount> MemoryBackend::entity_predicate_counts(const std::string&) { return {}; }
std::vector<SourceCount> MemoryBackend::entity_source_counts(const std::string&) { return {}; }
std::vector<Contradiction> MemoryBackend::find_contradictions(const std::string&, const std::string&) { return {}; }
std::vector<std::string> MemoryBackend::find_single_source_entities(uint64_t) { return {}; }
std::vector<Gap> MemoryBackend::gap_analysis(const std::string&, const std::vector<std::string>&, uint64_t) { return {}; }

}  // namespace zorlet_store::backend::memory
