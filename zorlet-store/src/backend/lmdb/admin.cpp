// Reader slots, compaction and statistics.
//
// Compaction and LMDB's locks. Every process that has a store open holds a
// shared fcntl lock on byte 0 of lock.mdb (taken at open, kept until close);
// the first opener takes it exclusively for a moment to initialise the lock
// file (reader table, last transaction id) from the data file, then shares it.
// Replacing data.mdb is therefore safe only while this process is the sole
// holder, and the lock file must be re-initialised from the new data file
// before anyone else uses it. Compaction keeps to that protocol:
//
//   1. copy with MDB_CP_COMPACT into <store>/compact_tmp/data.mdb, fsync;
//   2. upgrade this process's byte-0 lock to exclusive (fails at once if any
//      other process has the store open; while held, new openers wait inside
//      their open, before they look at data.mdb);
//   3. check that nothing was committed since the copy began;
//   4. rename the copy over data.mdb, fsync the directory;
//   5. open a fresh handle: being the exclusive holder it re-initialises the
//      lock file from the new data file, then shares byte 0 (waiting openers
//      proceed, against the new file);
//   6. close the old handle. Closing any descriptor of a file drops all of a
//      process's fcntl locks on it, so the fresh handle's byte-0 lock is taken
//      again on its own descriptor.
//
// A descriptor of lock.mdb is never opened (closing it would drop LMDB's
// locks); the one LMDB holds is found through /proc/self/fd.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>

#include "backend/lmdb/counter_tables.h"
#include "backend/lmdb/lmdb_backend.h"
#include "zorlet_core/log.h"

namespace zorlet_store::backend::lmdb {

using zorlet_core::errors::fail;

Result<uint64_t> LmdbBackend::reader_check() {
  int dead = 0;
  if (int rc = mdb_reader_check(env(), &dead); rc != MDB_SUCCESS)
    return zorlet_core::errors::fail("clear_stale_readers", lmdb_text(rc));
  return static_cast<uint64_t>(dead);
}

std::pair<uint32_t, uint32_t> LmdbBackend::reader_info() {
  MDB_envinfo info;
  if (mdb_env_info(env(), &info) != MDB_SUCCESS) return {0, 0};
  return {info.me_numreaders, info.me_maxreaders};
}

StoreStats LmdbBackend::stats() {
  MDB_env* e = env();
  StoreStats out;
  Txn txn;
  if (Txn::begin(e, false, txn) != MDB_SUCCESS) return out;
  out.total_claims = txn.entries(dbs_.claims).value_or(0);
  out.entity_count = txn.entries(dbs_.entities).value_or(0);
  read_counts(txn, dbs_.entity_type_counts, out.entity_types);
  read_counts(txn, dbs_.pred_type_counts, out.predicate_types);
  read_counts(txn, dbs_.src_type_counts, out.source_types);
  return out;
}

namespace {

namespace fs = std::filesystem;

std::string errno_text(int err) { return std::strerror(err); }

// Removes the scratch directory on every path out of compaction.
class ScratchDir {
 public:
  explicit ScratchDir(fs::path path) : path_(std::move(path)) {}
  ~ScratchDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

std::optional<struct stat> stat_of(const fs::path& p) {
  struct stat st;
  if (::stat(p.c_str(), &st) != 0) return std::nullopt;
  return st;
}

// A descriptor this process already holds on `file` (LMDB's own), found
// without opening the file. -1 when there is none.
int held_descriptor(const fs::path& file) {
  auto target = stat_of(file);
  if (!target) return -1;
  DIR* dir = ::opendir("/proc/self/fd");
  if (!dir) return -1;
  int found = -1;
  int own = ::dirfd(dir);
  while (struct dirent* entry = ::readdir(dir)) {
    char* end = nullptr;
    long fd = std::strtol(entry->d_name, &end, 10);
    if (end == entry->d_name || *end != '\0' || fd == own) continue;
    struct stat st;
    if (::fstat(static_cast<int>(fd), &st) == 0 && st.st_dev == target->st_dev && st.st_ino == target->st_ino) {
      found = static_cast<int>(fd);
      break;
    }
  }
  ::closedir(dir);
  return found;
}

int lock_byte0(int fd, short type, bool wait) {
  struct flock lk;
  std::memset(&lk, 0, sizeof lk);
  lk.l_type = type;
  lk.l_whence = SEEK_SET;
  lk.l_start = 0;
  lk.l_len = 1;
  int rc;
  do rc = ::fcntl(fd, wait ? F_SETLKW : F_SETLK, &lk);
  while (rc != 0 && errno == EINTR);
  return rc;
}

// This process's byte-0 lock held exclusively; shared again on every path
// unless the descriptor was handed over to a closing handle.
class ExclusiveHold {
 public:
  explicit ExclusiveHold(int fd) : fd_(fd) {}
  ~ExclusiveHold() {
    if (fd_ >= 0) lock_byte0(fd_, F_RDLCK, false);
  }
  void forget() { fd_ = -1; }

 private:
  int fd_;
};

Result<void> fsync_path(const fs::path& p, int flags, const char* context) {
  int fd = ::open(p.c_str(), flags | O_CLOEXEC);
  if (fd < 0) return fail(context, errno_text(errno));
  int rc = ::fsync(fd);
  int err = errno;
  ::close(fd);
  if (rc != 0) return fail(context, errno_text(err));
  return {};
}

struct HandleSettings {
  size_t map_size;
  unsigned max_readers;
  unsigned flags;
};

// A new handle on `dir` with the settings of the live one.
Result<MDB_env*> open_handle(const fs::path& dir, const HandleSettings& s) {
  MDB_env* raw = nullptr;
  int rc = mdb_env_create(&raw);
  if (rc == MDB_SUCCESS) rc = mdb_env_set_mapsize(raw, s.map_size);
  if (rc == MDB_SUCCESS) rc = mdb_env_set_maxreaders(raw, s.max_readers);
  if (rc == MDB_SUCCESS) rc = mdb_env_set_maxdbs(raw, 32);
  if (rc == MDB_SUCCESS) rc = mdb_env_open(raw, dir.c_str(), s.flags, 0600);
  if (rc != MDB_SUCCESS) {
    if (raw) mdb_env_close(raw);
    return fail("compact reopen", lmdb_text(rc));
  }
  return raw;
}

}  // namespace

Result<bool> LmdbBackend::compact() {
  MDB_env* live = env();
  // A read-only store never rewrites its file; an environment shared with
  // another instance of this process cannot be swapped under it.
  if (read_only_ || env_.use_count() != 1) return false;

  const fs::path dir(path_);
  const fs::path data = dir / "data.mdb";
  const fs::path lock = dir / "lock.mdb";
  ScratchDir scratch(dir / "compact_tmp");
  const fs::path copy = scratch.path() / "data.mdb";
  const fs::path previous = scratch.path() / "previous.mdb";

  std::error_code ec;
  fs::remove_all(scratch.path(), ec);  // left behind by an interrupted run
  fs::create_directories(scratch.path(), ec);
  if (ec) return fail("create compact dir", ec.message());

  MDB_envinfo before;
  if (int rc = mdb_env_info(live, &before); rc != MDB_SUCCESS) return fail("compact copy", lmdb_text(rc));
  if (int rc = mdb_env_copy2(live, scratch.path().c_str(), MDB_CP_COMPACT); rc != MDB_SUCCESS)
    return fail("compact copy", lmdb_text(rc));
  if (auto r = fsync_path(copy, O_RDONLY, "compact copy"); !r) return fail(r.error());

  auto old_st = stat_of(data);
  auto new_st = stat_of(copy);
  if (!old_st || !new_st) return fail("compact copy", "cannot read the file sizes");
  if (new_st->st_size >= old_st->st_size) return false;  // nothing to reclaim
  ::chmod(copy.c_str(), old_st->st_mode & 07777);

  // Sole holder of the store, or leave it alone.
  int lock_fd = held_descriptor(lock);
  if (lock_fd < 0 || lock_byte0(lock_fd, F_WRLCK, false) != 0) return false;
  ExclusiveHold hold(lock_fd);
  MDB_envinfo after;
  if (mdb_env_info(live, &after) != MDB_SUCCESS || after.me_last_txnid != before.me_last_txnid)
    return false;  // a commit raced the copy; the copy may miss it

  unsigned flags = 0;
  mdb_env_get_flags(live, &flags);
  const HandleSettings settings{before.me_mapsize, before.me_maxreaders, flags};

  // The old file stays reachable until the new handle is open, to roll back.
  if (::link(data.c_str(), previous.c_str()) != 0) return false;
  if (::rename(copy.c_str(), data.c_str()) != 0) return fail("compact swap", errno_text(errno));
  auto synced = fsync_path(dir, O_RDONLY | O_DIRECTORY, "compact swap");

  auto fresh = open_handle(dir, settings);
  std::optional<zorlet_core::errors::ZorletError> open_error;
  if (!fresh) {
    // Put the old file back and open on it, so that the lock file matches the
    // data file again and the store is as before. The failed handle closed
    // its descriptor of lock.mdb, which dropped this process's locks: take
    // the exclusive one again first.
    open_error = fresh.error();
    lock_byte0(lock_fd, F_WRLCK, false);
    if (::rename(previous.c_str(), data.c_str()) != 0) return fail("compact swap", errno_text(errno));
    fsync_path(dir, O_RDONLY | O_DIRECTORY, "compact swap");
    fresh = open_handle(dir, settings);
    if (!fresh) {
      lock_byte0(lock_fd, F_WRLCK, false);
      return fail(*open_error);  // the old handle maps the restored file
    }
  }

  // Hand over: the fresh handle shares byte 0 now; closing the old one drops
  // every fcntl lock this process has on lock.mdb, so take it again.
  hold.forget();
  MDB_env* old = env_->exchange(*fresh);
  mdb_env_close(old);
  int fresh_fd = held_descriptor(lock);
  if (fresh_fd >= 0) lock_byte0(fresh_fd, F_RDLCK, true);

  auto dbs = create_databases(env_->get());
  if (!dbs) return fail(dbs.error());
  dbs_ = *dbs;
  if (open_error) return fail(*open_error);
  if (!synced) zorlet_core::log::warn(kLogTarget, "compact: " + synced.error().payload());
  return true;
}

}  // namespace zorlet_store::backend::lmdb
