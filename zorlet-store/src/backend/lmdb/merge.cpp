// Merging another store directory. (Being built.)
#include "backend/lmdb/lmdb_backend.h"

namespace zorlet_store::backend::lmdb {

Result<uint64_t> LmdbBackend::merge_from(const std::string&) { return 0; }

}  // namespace zorlet_store::backend::lmdb
