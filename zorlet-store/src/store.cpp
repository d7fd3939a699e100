// The store facade: backend selection, read-only rules, and the operations
// that combine backend calls (textual status changes, retraction, alias
// lookups, betweenness).
#include "store.h"

#include <sys/stat.h>

#include "zorlet_core/normalization.h"

namespace zorlet_store::store {

using zorlet_core::errors::fail;
using zorlet_core::normalization::normalize_entity_id;

namespace {

std::optional<ClaimStatus> accepted_status_name(std::string_view lowered) {
  struct Name {
    std::string_view text;
    ClaimStatus status;
  };
  static constexpr Name kNames[] = {
      {"active", ClaimStatus::Active},
      {"archived", ClaimStatus::Archived},
      {"tombstoned", ClaimStatus::Tombstoned},
      {"retracted", ClaimStatus::Tombstoned},
      {"provenance_degraded", ClaimStatus::ProvenanceDegraded},
      {"degraded", ClaimStatus::ProvenanceDegraded},
      {"verified", ClaimStatus::Verified},
      {"verification_failed", ClaimStatus::VerificationFailed},
      {"failed", ClaimStatus::VerificationFailed},
      {"disputed", ClaimStatus::Disputed},
  };
  for (const auto& n : kNames)
    if (n.text == lowered) return n.status;
  return std::nullopt;
}

bool is_regular_file(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

Result<NativeStore> NativeStore::open(const std::string& path) {
  // Only an existing plain file is refused; everything else opens or creates.
  if (is_regular_file(path))
    return fail(ZorletError::provenance("Legacy database format detected at " + path +
                                        ". Only LMDB databases are supported. Please re-create the database."));
  auto backend = backend::lmdb::LmdbBackend::open(path);
  if (!backend) return fail(backend.error());
  return NativeStore(Backend(std::move(*backend)), false);
}

Result<NativeStore> NativeStore::open_read_only(const std::string& path) {
  auto backend = backend::lmdb::LmdbBackend::open_read_only(path);
  if (!backend) return fail(backend.error());
  return NativeStore(Backend(std::move(*backend)), true);
}

NativeStore NativeStore::in_memory() {
  return NativeStore(Backend(backend::memory::MemoryBackend::new_empty()), false);
}

Result<uint64_t> NativeStore::merge_from(const std::string& source_path) {
  if (read_only_) return fail(ZorletError::provenance("cannot merge into a read-only store"));
  return be().merge_from(source_path);
}

bool NativeStore::insert_claim(Claim claim) {
  if (read_only_) return false;
  return be().insert_claim(std::move(claim));
}

uint64_t NativeStore::insert_claims_batch(std::vector<Claim> claims) {
  if (read_only_) return 0;
  return be().insert_claims_batch(std::move(claims));
}

Result<bool> NativeStore::update_claim_status(const std::string& claim_id, const std::string& status) {
  if (read_only_) return fail(ZorletError::read_only());
  auto parsed = accepted_status_name(zorlet_core::normalization::to_lower_full(status));
  if (!parsed) return fail(ZorletError::validation("Unknown claim status: " + status));
  return be().update_claim_status(claim_id, *parsed);
}

Result<uint64_t> NativeStore::update_claim_status_batch(std::vector<std::pair<std::string, ClaimStatus>> updates) {
  if (read_only_) return fail(ZorletError::read_only());
  return be().update_claim_status_batch(std::move(updates));
}

Result<bool> NativeStore::retract_claim(const std::string& claim_id) {
  if (read_only_) return fail(ZorletError::read_only());
  return be().update_claim_status(claim_id, ClaimStatus::Tombstoned);
}

Result<std::vector<std::string>> NativeStore::retract_source(const std::string& source_id) {
  if (read_only_) return fail(ZorletError::read_only());
  StorageBackend& b = be();
  b.set_include_retracted(true);
  std::vector<Claim> claims = b.claims_by_source_id(source_id);
  b.set_include_retracted(false);
  std::vector<std::string> ids;
  for (const Claim& c : claims)
    if (c.status != ClaimStatus::Tombstoned) ids.push_back(c.claim_id);
  if (ids.empty()) return ids;
  std::vector<std::pair<std::string, ClaimStatus>> updates;
  updates.reserve(ids.size());
  for (const auto& id : ids) updates.emplace_back(id, ClaimStatus::Tombstoned);
  if (auto r = b.update_claim_status_batch(std::move(updates)); !r) return fail(r.error());
  return ids;
}

Result<uint64_t> NativeStore::purge_source(const std::string& source_id) {
  if (read_only_) return fail(ZorletError::read_only());
  return be().purge_source(source_id);
}

Result<void> NativeStore::clear_aliases() {
  if (read_only_) return fail(ZorletError::read_only());
  return be().clear_aliases();
}

Result<uint64_t> NativeStore::rebuild_causal_adj() {
  if (read_only_) return fail(ZorletError::read_only());
  return be().rebuild_causal_adj();
}

void NativeStore::upsert_entity(const std::string& id, const std::string& entity_type, const std::string& display_name,
                                const std::optional<zorlet_core::types::StringMap>& external_ids, int64_t timestamp) {
  if (read_only_) return;
  be().upsert_entity(id, entity_type, display_name, external_ids, timestamp);
}

Result<void> NativeStore::upsert_entities_batch(const std::vector<backend::EntityRow>& rows, int64_t timestamp) {
  if (read_only_) return fail(ZorletError::read_only());
  return be().upsert_entities_batch(rows, timestamp);
}

bool NativeStore::update_display_name(const std::string& id, const std::string& new_display) {
  if (read_only_) return false;
  return be().update_display_name(id, new_display);
}

std::string NativeStore::resolve(const std::string& entity_id) {
  return be().aliases().find(normalize_entity_id(entity_id));
}

std::string NativeStore::resolve_readonly(const std::string& entity_id) {
  return be().aliases().find_readonly(normalize_entity_id(entity_id));
}

backend::StringSet NativeStore::get_alias_group(const std::string& entity_id) {
  return be().aliases().get_group(normalize_entity_id(entity_id));
}

backend::StringSet NativeStore::get_alias_group_readonly(const std::string& entity_id) {
  return be().aliases().get_group_readonly(normalize_entity_id(entity_id));
}

std::vector<predict::Prediction> NativeStore::predict_causal(const std::string& entity_id,
                                                             const backend::StringSet& causal,
                                                             const predict::CompositionMap& composition,
                                                             const predict::OppositesMap& opposites,
                                                             uint64_t max_intermediaries, uint64_t min_paths,
                                                             uint64_t hub_max_claims) {
  return predict::predict_causal(be(), entity_id, causal, composition, opposites, max_intermediaries, min_paths,
                                 hub_max_claims);
}

std::unordered_map<std::string, double> NativeStore::compute_betweenness_centrality(uint64_t sample_size,
                                                                                    uint64_t seed, bool adaptive,
                                                                                    uint64_t max_nodes) {
  backend::AdjacencyMap graph = be().get_adjacency_list();
  return graph::brandes_betweenness(graph, sample_size, seed, adaptive, max_nodes);
}

void NativeStore::register_vocabulary(std::string ns, metadata::Vocabulary vocabulary) {
  if (read_only_) return;
  be().metadata().register_vocabulary(std::move(ns), std::move(vocabulary));
  be().mark_metadata_dirty();
}

void NativeStore::register_predicate(std::string predicate_id, const zorlet_core::json::Json& constraints) {
  if (read_only_) return;
  be().metadata().register_predicate(std::move(predicate_id), constraints);
  be().mark_metadata_dirty();
}

void NativeStore::register_payload_schema(std::string schema_id, const zorlet_core::json::Json& schema) {
  if (read_only_) return;
  be().metadata().register_payload_schema(std::move(schema_id), schema);
  be().mark_metadata_dirty();
}

}  // namespace zorlet_store::store
