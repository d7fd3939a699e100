// The store facade behind each Python instance: owns exactly one backend,
// applies the read-only rules in one place, and forwards everything else.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "backend.h"
#include "backend/lmdb/lmdb_backend.h"
#include "backend/memory/memory_backend.h"
#include "graph.h"
#include "predict.h"

namespace zorlet_store::store {

using backend::StorageBackend;
using zorlet_core::errors::Result;
using zorlet_core::errors::ZorletError;
using zorlet_core::types::Claim;
using zorlet_core::types::ClaimStatus;

// The closed choice of backend; each alternative is one heap allocation so the
// facade stays small and moves cheaply.
using Backend = std::variant<std::unique_ptr<backend::memory::MemoryBackend>,
                             std::unique_ptr<backend::lmdb::LmdbBackend>>;

class NativeStore {
 public:
  static Result<NativeStore> open(const std::string& path);  // `new`
  static Result<NativeStore> open_read_only(const std::string& path);
  static NativeStore in_memory();

  bool is_read_only() const { return read_only_; }
  bool is_memory() const { return std::holds_alternative<std::unique_ptr<backend::memory::MemoryBackend>>(backend_); }

  // Lifecycle and administration.
  Result<void> close() { return be().close(); }
  Result<void> checkpoint() { return be().checkpoint(); }
  uint32_t schema_version() { return be().schema_version(); }
  zorlet_core::types::StoreStats stats() { return be().stats(); }
  Result<uint64_t> reader_check() { return be().reader_check(); }
  std::pair<uint32_t, uint32_t> reader_info() { return be().reader_info(); }
  Result<bool> compact() { return be().compact(); }
  Result<uint64_t> merge_from(const std::string& source_path);

  // Claim writes and status changes.
  bool insert_claim(Claim claim);
  uint64_t insert_claims_batch(std::vector<Claim> claims);
  Result<bool> update_claim_status(const std::string& claim_id, const std::string& status);
  Result<uint64_t> update_claim_status_batch(std::vector<std::pair<std::string, ClaimStatus>> updates);
  Result<bool> retract_claim(const std::string& claim_id);
  Result<std::vector<std::string>> retract_source(const std::string& source_id);
  Result<uint64_t> purge_source(const std::string& source_id);
  Result<void> clear_aliases();

  // Entities.
  void upsert_entity(const std::string& id, const std::string& entity_type, const std::string& display_name,
                     const std::optional<zorlet_core::types::StringMap>& external_ids, int64_t timestamp);
  Result<void> upsert_entities_batch(const std::vector<backend::EntityRow>& rows, int64_t timestamp);
  bool update_display_name(const std::string& id, const std::string& new_display);

  // Alias lookups: the asked id is normalised first.
  std::string resolve(const std::string& entity_id);
  std::string resolve_readonly(const std::string& entity_id);
  backend::StringSet get_alias_group(const std::string& entity_id);
  backend::StringSet get_alias_group_readonly(const std::string& entity_id);

  // Graph analytics over the backend's contract operations.
  std::vector<predict::Prediction> predict_causal(const std::string& entity_id, const backend::StringSet& causal,
                                                  const predict::CompositionMap& composition,
                                                  const predict::OppositesMap& opposites, uint64_t max_intermediaries,
                                                  uint64_t min_paths, uint64_t hub_max_claims);
  std::unordered_map<std::string, double> compute_betweenness_centrality(uint64_t sample_size, uint64_t seed,
                                                                         bool adaptive, uint64_t max_nodes);

  // Counter maintenance.
  Result<void> rebuild_counters() { return be().rebuild_counters(); }
  Result<uint64_t> rebuild_causal_adj();
  Result<uint64_t> backfill_pred_id_counts() { return be().backfill_pred_id_counts(); }
  Result<uint64_t> backfill_claim_summaries() { return be().backfill_claim_summaries(); }
  Result<uint64_t> backfill_analytics_counters() { return be().backfill_analytics_counters(); }

  // Registry: a read-only store ignores registrations.
  void register_vocabulary(std::string ns, metadata::Vocabulary vocabulary);
  void register_predicate(std::string predicate_id, const zorlet_core::json::Json& constraints);
  void register_payload_schema(std::string schema_id, const zorlet_core::json::Json& schema);
  std::map<std::string, metadata::Vocabulary> get_registered_vocabularies() { return be().metadata().vocabularies; }
  std::map<std::string, std::string> get_predicate_constraints() { return be().metadata().predicate_constraints; }
  std::map<std::string, std::string> get_payload_schemas() { return be().metadata().payload_schemas; }

  // Everything else forwards unchanged: reads, graph, analytics, settings.
  StorageBackend& be() {
    return std::visit([](auto& b) -> StorageBackend& { return *b; }, backend_);
  }

 private:
  NativeStore(Backend backend, bool read_only) : backend_(std::move(backend)), read_only_(read_only) {}

  Backend backend_;
  bool read_only_ = false;
};

}  // namespace zorlet_store::store
