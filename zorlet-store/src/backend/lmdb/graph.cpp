// Graph traversal over the indexes. (Being built.)
#include "backend/lmdb/lmdb_backend.h"

namespace zorlet_store::backend::lmdb {

std::vector<std::string> LmdbBackend::neighbors(const std::string&) { return {}; }
std::vector<std::pair<Claim, uint64_t>> LmdbBackend::bfs_claims(const std::string&, uint64_t) { return {}; }
bool LmdbBackend::path_exists(const std::string&, const std::string&, uint64_t) { return false; }
AdjacencyMap LmdbBackend::get_adjacency_list() { return {}; }
std::vector<ClosureEntry> LmdbBackend::transitive_closure(const std::string&, const StringSet&, uint64_t) { return {}; }
std::vector<CausalEdge> LmdbBackend::outgoing_causal_edges(const std::string&, const StringSet&) { return {}; }

}  // namespace zorlet_store::backend::lmdb
