#include "backend/lmdb/env.h"

#include <sys/stat.h>

#include <map>
#include <mutex>

namespace zorlet_store::backend::lmdb {

std::string lmdb_text(int rc) { return mdb_strerror(rc); }

namespace {

struct RegistryEntry {
  std::weak_ptr<Environment> env;
  EnvSettings settings;
  bool closing = false;
};

// The process-wide registry of open environments, keyed by the directory's
// device and inode so that two spellings of one path meet here.
struct Registry {
  std::mutex mu;
  std::map<std::string, RegistryEntry> entries;
};

Registry& registry() {
  static Registry* r = new Registry;  // never destroyed: environments may outlive static teardown
  return *r;
}

std::string directory_key(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return "path:" + path;
  return std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
}

}  // namespace

Environment::~Environment() {
  Registry& r = registry();
  {
    std::lock_guard lock(r.mu);
    auto it = r.entries.find(key_);
    if (it != r.entries.end()) it->second.closing = true;
  }
  mdb_env_close(env_);
  std::lock_guard lock(r.mu);
  auto it = r.entries.find(key_);
  if (it != r.entries.end() && it->second.closing && it->second.env.expired()) r.entries.erase(it);
}

int Txn::begin(MDB_env* env, bool write, Txn& out, MDB_txn* parent) {
  out.abort();
  return mdb_txn_begin(env, parent, write ? 0 : MDB_RDONLY, &out.txn_);
}

Result<EnvPtr> open_environment(const std::string& path, const EnvSettings& settings, std::string_view context) {
  Registry& r = registry();
  std::lock_guard lock(r.mu);
  std::string key = directory_key(path);
  if (auto it = r.entries.find(key); it != r.entries.end()) {
    if (it->second.closing)
      return zorlet_core::errors::fail(context, "database is in a closing phase, you can't open it at the same time");
    if (auto shared = it->second.env.lock()) {
      if (!it->second.settings.shareable_with(settings))
        return zorlet_core::errors::fail(context, "an environment is already opened with different options");
      return shared;
    }
    r.entries.erase(it);
  }

  long page = sysconf(_SC_PAGESIZE);
  if (page > 0 && settings.map_size % static_cast<uint64_t>(page) != 0)
    return zorlet_core::errors::fail(context, "map size (" + std::to_string(settings.map_size) +
                                                  ") must be a multiple of the system page size (" +
                                                  std::to_string(page) + ")");
  MDB_env* raw = nullptr;
  int rc = mdb_env_create(&raw);
  if (rc == MDB_SUCCESS) rc = mdb_env_set_mapsize(raw, settings.map_size);
  if (rc == MDB_SUCCESS && settings.max_readers) rc = mdb_env_set_maxreaders(raw, settings.max_readers);
  if (rc == MDB_SUCCESS) rc = mdb_env_set_maxdbs(raw, settings.max_dbs);
  if (rc == MDB_SUCCESS) rc = mdb_env_open(raw, path.c_str(), settings.flags, 0600);
  if (rc != MDB_SUCCESS) {
    if (raw) mdb_env_close(raw);
    return zorlet_core::errors::fail(context, lmdb_text(rc));
  }
  EnvPtr env(new Environment(raw, path, key));
  r.entries[key] = RegistryEntry{env, settings, false};
  return env;
}

}  // namespace zorlet_store::backend::lmdb
