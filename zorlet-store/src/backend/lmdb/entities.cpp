// Entity records and the text index.
//
// One registration writes, in one transaction:
//
//   entities[id]                   = entity_data (codec.h)
//   entity_type_idx[entity_type]  += id
//   text_idx[token]               += id     for each distinct token (below)
//   entity_type_counts[entity_type] += 1    (plain counter; not in bulk-load mode)
//
// Tokens are those of tokenize(display_name or, when it is empty, id),
// followed by those of tokenize(id); each is cut to 490 bytes at a character
// boundary, and a token already written for this registration is skipped.
// A record, once created, only gains external ids or changes its display
// name; its type entry and its count never change afterwards.
#include <string>
#include <unordered_set>
#include <vector>

#include "backend/lmdb/lmdb_backend.h"
#include "entity_store.h"
#include "zorlet_core/log.h"

namespace zorlet_store::backend::lmdb {

using zorlet_core::errors::fail;
using zorlet_core::types::EntityData;

namespace {

// Ids and types beyond this never become keys: LMDB's key limit is 511 and
// the index entries built from them must fit too.
constexpr size_t kMaxEntityKey = 490;
constexpr size_t kWarnPrefix = 80;

void warn_oversized(std::string_view id) {
  zorlet_core::log::warn(kLogTarget, "Skipping entity with oversized key (" + std::to_string(id.size()) +
                                         " bytes): " + std::string(codec::cut_utf8(id, kWarnPrefix)) + "...");
}

// Appends the tokens of `text`, cut to the key limit, that `seen` does not
// hold yet.
void add_tokens(std::string_view text, std::unordered_set<std::string>& seen, std::vector<std::string>& out) {
  for (std::string& token : entity_store::tokenize(text)) {
    std::string_view cut = codec::cut_utf8(token, kMaxEntityKey);
    if (cut.size() != token.size()) token.resize(cut.size());
    if (seen.insert(token).second) out.push_back(std::move(token));
  }
}

// The distinct text-index tokens of a new registration.
std::vector<std::string> registration_tokens(std::string_view display_name, std::string_view id) {
  std::unordered_set<std::string> seen;
  std::vector<std::string> out;
  add_tokens(display_name.empty() ? id : display_name, seen, out);
  add_tokens(id, seen, out);
  return out;
}

std::vector<std::string> name_tokens(std::string_view display_name) {
  std::unordered_set<std::string> seen;
  std::vector<std::string> out;
  add_tokens(display_name, seen, out);
  return out;
}

// The stored record under `id`, when present and decodable.
std::optional<EntityData> read_entity(const Txn& txn, MDB_dbi dbi, std::string_view id) {
  std::string_view bytes;
  if (txn.get(dbi, id, bytes) != MDB_SUCCESS) return std::nullopt;
  auto decoded = codec::decode_entity(bytes);
  if (!decoded) return std::nullopt;
  return std::move(*decoded);
}

EntityData new_record(const std::string& id, const std::string& entity_type, const std::string& display_name,
                      StringMap external_ids, int64_t timestamp) {
  return EntityData{id, entity_type, display_name.empty() ? id : display_name, std::move(external_ids), timestamp};
}

// Plain counter += 1: absent counts as 0.
Result<void> increment_counter(Txn& txn, MDB_dbi dbi, std::string_view key) {
  std::string_view stored;
  uint64_t count = 0;
  int rc = txn.get(dbi, key, stored);
  if (rc == MDB_SUCCESS) count = codec::decode_count(stored).value_or(0);
  else if (rc != MDB_NOTFOUND) return fail("get counter", lmdb_text(rc));
  auto bytes = codec::encode_count(count + 1);
  if (int prc = txn.put(dbi, key, codec::view(bytes)); prc != MDB_SUCCESS) return fail("put counter", lmdb_text(prc));
  return {};
}

}  // namespace

void LmdbBackend::upsert_entity(const std::string& id, const std::string& entity_type,
                                const std::string& display_name, const std::optional<StringMap>& external_ids,
                                int64_t timestamp) {
  MDB_env* e = env();
  if (id.size() > kMaxEntityKey) return warn_oversized(id);
  Txn txn;
  if (int rc = Txn::begin(e, true, txn); rc != MDB_SUCCESS) {
    zorlet_core::log::warn(kLogTarget, "upsert_entity: " + lmdb_text(rc));
    return;
  }
  // Failures past this point are deliberately not reported: the single form
  // registers what it can and commits.
  if (auto existing = read_entity(txn, dbs_.entities, id)) {
    if (external_ids) {
      for (const auto& [key, value] : *external_ids) existing->external_ids[key] = value;
      txn.put(dbs_.entities, id, codec::encode_entity(*existing));
    }
    txn.commit();
    return;
  }
  EntityData record = new_record(id, entity_type, display_name, external_ids.value_or(StringMap{}), timestamp);
  txn.put(dbs_.entities, id, codec::encode_entity(record));
  txn.put(dbs_.entity_type_idx, entity_type, id);
  for (const std::string& token : registration_tokens(record.display_name, id)) txn.put(dbs_.text_idx, token, id);
  if (!bulk_load_mode_) (void)increment_counter(txn, dbs_.entity_type_counts, entity_type);
  txn.commit();
}

Result<void> LmdbBackend::upsert_entities_batch(const std::vector<EntityRow>& rows, int64_t timestamp) {
  MDB_env* e = env();
  Txn txn;
  if (int rc = Txn::begin(e, true, txn); rc != MDB_SUCCESS) return fail("upsert_entities_batch begin_write", lmdb_text(rc));
  for (const EntityRow& row : rows) {
    if (row.id.size() > kMaxEntityKey || row.entity_type.size() > kMaxEntityKey) {
      warn_oversized(row.id);
      continue;
    }
    if (auto existing = read_entity(txn, dbs_.entities, row.id)) {
      if (row.external_ids.empty()) continue;
      for (const auto& [key, value] : row.external_ids) existing->external_ids[key] = value;
      if (int rc = txn.put(dbs_.entities, row.id, codec::encode_entity(*existing)); rc != MDB_SUCCESS)
        return fail("put entity", lmdb_text(rc));
      continue;
    }
    EntityData record = new_record(row.id, row.entity_type, row.display_name, row.external_ids, timestamp);
    if (int rc = txn.put(dbs_.entities, row.id, codec::encode_entity(record)); rc != MDB_SUCCESS)
      return fail("put entity", lmdb_text(rc));
    if (int rc = txn.put(dbs_.entity_type_idx, row.entity_type, row.id); rc != MDB_SUCCESS)
      return fail("put entity_type_idx", lmdb_text(rc));
    for (const std::string& token : registration_tokens(record.display_name, row.id))
      if (int rc = txn.put(dbs_.text_idx, token, row.id); rc != MDB_SUCCESS) return fail("put text_idx", lmdb_text(rc));
    if (!bulk_load_mode_)
      if (auto r = increment_counter(txn, dbs_.entity_type_counts, row.entity_type); !r)
        return fail(ZorletError::wrap("increment entity_type_counts", r.error()));
  }
  if (int rc = txn.commit(); rc != MDB_SUCCESS) return fail("upsert_entities_batch commit", lmdb_text(rc));
  return {};
}

bool LmdbBackend::update_display_name(const std::string& id, const std::string& new_display) {
  MDB_env* e = env();
  Txn txn;
  if (int rc = Txn::begin(e, true, txn); rc != MDB_SUCCESS) {
    zorlet_core::log::warn(kLogTarget, "update_display_name: " + lmdb_text(rc));
    return false;
  }
  auto record = read_entity(txn, dbs_.entities, id);
  if (!record) return false;
  record->display_name = new_display;
  if (int rc = txn.put(dbs_.entities, id, codec::encode_entity(*record)); rc != MDB_SUCCESS) {
    zorlet_core::log::warn(kLogTarget, "update_display_name put failed for " + id + ": " + lmdb_text(rc));
    return false;
  }
  // The former name's tokens stay: search keeps finding the entity by them.
  for (const std::string& token : name_tokens(new_display)) txn.put(dbs_.text_idx, token, id);
  if (int rc = txn.commit(); rc != MDB_SUCCESS) {
    zorlet_core::log::warn(kLogTarget, "update_display_name commit failed for " + id + ": " + lmdb_text(rc));
    return false;
  }
  return true;
}

}  // namespace zorlet_store::backend::lmdb
