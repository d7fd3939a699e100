// Analytics queries. (Being built.)
#include "backend/lmdb/lmdb_backend.h"

namespace zorlet_store::backend::lmdb {

std::unordered_map<std::string, uint64_t> LmdbBackend::predicate_counts() { return {}; }
std::unordered_map<std::string, uint64_t> LmdbBackend::source_id_counts() { return {}; }
std::vector<PredicateCount> LmdbBackend::entity_predicate_counts(const std::string&) { return {}; }
std::vector<SourceCount> LmdbBackend::entity_source_counts(const std::string&) { return {}; }
std::vector<Contradiction> LmdbBackend::find_contradictions(const std::string&, const std::string&) { return {}; }
std::vector<std::string> LmdbBackend::find_single_source_entities(uint64_t) { return {}; }
std::vector<Gap> LmdbBackend::gap_analysis(const std::string&, const std::vector<std::string>&, uint64_t) { return {}; }

}  // namespace zorlet_store::backend::lmdb
