// Entity records and the text index. (Being built.)
#include "backend/lmdb/lmdb_backend.h"

namespace zorlet_store::backend::lmdb {

void LmdbBackend::upsert_entity(const std::string&, const std::string&, const std::string&, const std::optional<StringMap>&, int64_t) {}
Result<void> LmdbBackend::upsert_entities_batch(const std::vector<EntityRow>&, int64_t) { return {}; }
bool LmdbBackend::update_display_name(const std::string&, const std::string&) { return false; }

}  // namespace zorlet_store::backend::lmdb
