// Entity lookups and search. (Being built.)
#include "backend/lmdb/lmdb_backend.h"

namespace zorlet_store::backend::lmdb {

std::optional<EntitySummary> LmdbBackend::get_entity(const std::string&) { return std::nullopt; }
EntityNames LmdbBackend::get_entities_batch(const std::vector<std::string>&) { return {}; }
std::vector<EntitySummary> LmdbBackend::list_entities(const OptText&, uint64_t, uint64_t, uint64_t) { return {}; }
uint64_t LmdbBackend::count_entities(const OptText&, uint64_t) { return 0; }
std::vector<EntitySummary> LmdbBackend::search_entities(const std::string&, uint64_t) { return {}; }

}  // namespace zorlet_store::backend::lmdb
