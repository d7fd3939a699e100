// Thin RAII over LMDB's C handles: environments (shared through a
// process-wide registry), transactions and cursors. Errors are LMDB return
// codes or ZorletError values; nothing here throws.
#pragma once

#include <lmdb.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "zorlet_core/errors.h"

namespace zorlet_store::backend::lmdb {

using zorlet_core::errors::Result;
using zorlet_core::errors::ZorletError;

std::string lmdb_text(int rc);

inline MDB_val to_val(std::string_view s) { return MDB_val{s.size(), const_cast<char*>(s.data())}; }
inline std::string_view from_val(const MDB_val& v) { return {static_cast<const char*>(v.mv_data), v.mv_size}; }

// Which kind of open made an environment. Two opens of one directory share an
// environment only when kind and every setting agree.
enum class OpenKind : uint8_t { Writable, ReadOnly, MergeSource };

struct EnvSettings {
  OpenKind kind = OpenKind::Writable;
  uint64_t map_size = 0;
  unsigned max_readers = 0;  // 0 = LMDB's default
  unsigned max_dbs = 32;
  unsigned flags = 0;
  bool operator==(const EnvSettings&) const = default;
  // Whether an open environment made with `this` can serve an open asking for
  // `other`. The map size is derived from the data file at open time, so two
  // opens of one kind may compute different sizes after the file grew; the
  // environment already open keeps its own.
  bool shareable_with(const EnvSettings& other) const {
    return kind == other.kind && max_readers == other.max_readers && max_dbs == other.max_dbs &&
           flags == other.flags;
  }
};

// One open LMDB environment. LMDB must never be opened twice on one
// directory in one process (that breaks its locks), so every open goes through
// the registry; the environment closes when its last share is released.
class Environment {
 public:
  ~Environment();
  Environment(const Environment&) = delete;
  Environment& operator=(const Environment&) = delete;
  MDB_env* get() const { return env_; }
  const std::string& path() const { return path_; }
  // Puts a handle freshly opened on the same directory in place of the
  // current one and returns the current one, which the caller closes. Used by
  // compaction, which replaces the data file under an unshared environment.
  MDB_env* exchange(MDB_env* fresh) { return std::exchange(env_, fresh); }

 private:
  friend Result<std::shared_ptr<Environment>> open_environment(const std::string&, const EnvSettings&,
                                                               std::string_view);
  Environment(MDB_env* env, std::string path, std::string key) : env_(env), path_(std::move(path)), key_(std::move(key)) {}
  MDB_env* env_;
  std::string path_;
  std::string key_;  // registry key: device and inode of the directory
};

using EnvPtr = std::shared_ptr<Environment>;

// Opens (or shares) the environment of directory `path`. Failures are
// ProvenanceError "{context}: {detail}".
Result<EnvPtr> open_environment(const std::string& path, const EnvSettings& settings, std::string_view context);

// A transaction; aborted by the destructor unless committed.
class Txn {
 public:
  Txn() = default;
  Txn(Txn&& o) noexcept : txn_(std::exchange(o.txn_, nullptr)) {}
  Txn& operator=(Txn&& o) noexcept {
    if (this != &o) {
      abort();
      txn_ = std::exchange(o.txn_, nullptr);
    }
    return *this;
  }
  ~Txn() { abort(); }

  // Returns an LMDB code; on success `out` holds the transaction.
  static int begin(MDB_env* env, bool write, Txn& out, MDB_txn* parent = nullptr);

  MDB_txn* get() const { return txn_; }
  explicit operator bool() const { return txn_ != nullptr; }
  int commit() {
    int rc = mdb_txn_commit(txn_);
    txn_ = nullptr;
    return rc;
  }
  void abort() {
    if (txn_) mdb_txn_abort(std::exchange(txn_, nullptr));
  }

  int get(MDB_dbi dbi, std::string_view key, std::string_view& out) const {
    MDB_val k = to_val(key), v;
    int rc = mdb_get(txn_, dbi, &k, &v);
    if (rc == MDB_SUCCESS) out = from_val(v);
    return rc;
  }
  int put(MDB_dbi dbi, std::string_view key, std::string_view value, unsigned flags = 0) {
    MDB_val k = to_val(key), v = to_val(value);
    return mdb_put(txn_, dbi, &k, &v, flags);
  }
  int del(MDB_dbi dbi, std::string_view key) {
    MDB_val k = to_val(key);
    return mdb_del(txn_, dbi, &k, nullptr);
  }
  int del(MDB_dbi dbi, std::string_view key, std::string_view value) {
    MDB_val k = to_val(key), v = to_val(value);
    return mdb_del(txn_, dbi, &k, &v);
  }
  // Number of entries of a database, or nothing when the statistics fail.
  std::optional<uint64_t> entries(MDB_dbi dbi) const {
    MDB_stat st;
    if (mdb_stat(txn_, dbi, &st) != MDB_SUCCESS) return std::nullopt;
    return st.ms_entries;
  }

 private:
  MDB_txn* txn_ = nullptr;
};

// A cursor; closed by the destructor. Cursors of write transactions must be
// released before the transaction commits, which scoping guarantees.
class Cursor {
 public:
  Cursor() = default;
  Cursor(Cursor&& o) noexcept : cur_(std::exchange(o.cur_, nullptr)) {}
  Cursor& operator=(Cursor&& o) noexcept {
    if (this != &o) {
      close();
      cur_ = std::exchange(o.cur_, nullptr);
    }
    return *this;
  }
  ~Cursor() { close(); }

  static int open(const Txn& txn, MDB_dbi dbi, Cursor& out) {
    out.close();
    return mdb_cursor_open(txn.get(), dbi, &out.cur_);
  }
  void close() {
    if (cur_) mdb_cursor_close(std::exchange(cur_, nullptr));
  }
  MDB_cursor* get() const { return cur_; }

  // Positions with `op`; on success fills key and value.
  int get(MDB_cursor_op op, std::string_view& key, std::string_view& value) {
    MDB_val k = to_val(key), v = to_val(value);
    int rc = mdb_cursor_get(cur_, &k, &v, op);
    if (rc == MDB_SUCCESS) {
      key = from_val(k);
      value = from_val(v);
    }
    return rc;
  }
  int put(std::string_view key, std::string_view value, unsigned flags = 0) {
    MDB_val k = to_val(key), v = to_val(value);
    return mdb_cursor_put(cur_, &k, &v, flags);
  }
  int count(size_t& n) {
    size_t c = 0;
    int rc = mdb_cursor_count(cur_, &c);
    n = static_cast<size_t>(c);
    return rc;
  }

 private:
  MDB_cursor* cur_ = nullptr;
};

// Key-size rule: LMDB takes keys (and duplicate values) of 1 to 511 bytes.
inline constexpr size_t kMaxKeySize = 511;
inline bool key_fits(std::string_view key) { return !key.empty() && key.size() <= kMaxKeySize; }

}  // namespace zorlet_store::backend::lmdb
