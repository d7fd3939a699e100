// The in-memory backend: a whole store in process memory, no persistence.
//
// Claims live in an append-only ClaimLog and are never edited: a status change
// is an overlay (`status_overrides_`, and `view_.tombstoned_ids` for
// retractions) applied to the copies that lookups hand out. Invariants:
//   - the log never holds two claims with one claim id (inserts refuse them);
//   - an id is in `view_.tombstoned_ids` exactly when its override is Tombstoned;
//   - `content_counts_[c]` is the number of accepted claims with content id c,
//     less one for each claim in `lowered_by_retraction_` with that content id;
//   - `lowered_by_retraction_` is a subset of `view_.tombstoned_ids`.
#pragma once

#include <memory>
#include <unordered_map>
#include <unordered_set>

#include "backend.h"
#include "claim_log.h"
#include "entity_store.h"

namespace zorlet_store::backend::memory {

class MemoryBackend final : public StorageBackend {
 public:
  static std::unique_ptr<MemoryBackend> new_empty() { return std::unique_ptr<MemoryBackend>(new MemoryBackend()); }

  Result<void> close() override { return {}; }
  Result<void> checkpoint() override { return {}; }
  uint32_t schema_version() override { return 3; }
  StoreStats stats() override;
  Result<uint64_t> reader_check() override { return 0; }
  std::pair<uint32_t, uint32_t> reader_info() override { return {0, 0}; }
  Result<bool> compact() override { return false; }
  Result<uint64_t> merge_from(const std::string&) override {
    return zorlet_core::errors::fail(
        zorlet_core::errors::ZorletError::provenance("merge_from is only supported on LMDB backends"));
  }

  bool insert_claim(Claim claim) override;
  uint64_t insert_claims_batch(std::vector<Claim> claims) override;
  Result<bool> update_claim_status(const std::string& claim_id, ClaimStatus status) override;
  Result<uint64_t> update_claim_status_batch(std::vector<std::pair<std::string, ClaimStatus>> updates) override;
  Result<uint64_t> purge_source(const std::string&) override { return 0; }
  Result<void> clear_aliases() override { return {}; }

  std::optional<Claim> get_claim(const std::string& claim_id) override;
  bool claim_exists(const std::string& claim_id) override;
  uint64_t count_claims() override;
  std::vector<Claim> all_claims(uint64_t offset, uint64_t limit) override;
  std::vector<Claim> most_recent_claims(uint64_t n) override;
  std::vector<Claim> claims_for(const std::string& entity_id, const OptText& predicate_type,
                                const OptText& source_type, double min_confidence, uint64_t limit) override;
  std::vector<Claim> claims_by_source_id(const std::string& source_id) override;
  std::vector<Claim> claims_by_content_id(const std::string& content_id) override;
  std::vector<Claim> claims_by_predicate_id(const std::string& predicate_id) override;
  std::vector<Claim> claims_in_range(int64_t min_ts, int64_t max_ts) override;
  std::vector<std::string> get_claim_provenance_chain(const std::string& claim_id) override;
  uint32_t corroboration_count(const std::string& content_id) override;

  void upsert_entity(const std::string& id, const std::string& entity_type, const std::string& display_name,
                     const std::optional<StringMap>& external_ids, int64_t timestamp) override;
  Result<void> upsert_entities_batch(const std::vector<EntityRow>& rows, int64_t timestamp) override;
  bool update_display_name(const std::string& id, const std::string& new_display) override;
  std::optional<EntitySummary> get_entity(const std::string& id) override;
  EntityNames get_entities_batch(const std::vector<std::string>& ids) override;
  std::vector<EntitySummary> list_entities(const OptText& entity_type, uint64_t min_claims, uint64_t offset,
                                           uint64_t limit) override;
  uint64_t count_entities(const OptText& entity_type, uint64_t min_claims) override;
  std::vector<EntitySummary> search_entities(const std::string& query, uint64_t top_k) override;

  std::vector<std::string> neighbors(const std::string& entity_id) override;
  std::vector<std::pair<Claim, uint64_t>> bfs_claims(const std::string& entity_id, uint64_t max_depth) override;
  bool path_exists(const std::string& a, const std::string& b, uint64_t max_depth) override;
  AdjacencyMap get_adjacency_list() override;
  std::vector<ClosureEntry> transitive_closure(const std::string& entity_id, const StringSet& predicates,
                                               uint64_t max_depth) override;
  std::vector<CausalEdge> outgoing_causal_edges(const std::string& entity_id, const StringSet& predicates) override;

  std::unordered_map<std::string, uint64_t> predicate_counts() override;
  std::unordered_map<std::string, uint64_t> source_id_counts() override { return {}; }
  std::vector<PredicateCount> entity_predicate_counts(const std::string& entity_id) override;
  std::vector<SourceCount> entity_source_counts(const std::string& entity_id) override;
  std::vector<Contradiction> find_contradictions(const std::string& pred_a, const std::string& pred_b) override;
  std::vector<std::string> find_single_source_entities(uint64_t min_claims) override;
  std::vector<Gap> gap_analysis(const std::string& entity_type, const std::vector<std::string>& expected,
                                uint64_t limit) override;

  Result<void> rebuild_counters() override { return {}; }
  Result<uint64_t> rebuild_causal_adj() override { return 0; }
  Result<uint64_t> backfill_pred_id_counts() override { return 0; }
  Result<uint64_t> backfill_claim_summaries() override { return 0; }
  Result<uint64_t> backfill_analytics_counters() override { return 0; }

  void set_bulk_load_mode(bool) override {}

 private:
  MemoryBackend() = default;

  // The acceptance step shared by both inserts.
  void apply_claim(Claim claim);
  // Flips the retraction state of an existing claim and records its override.
  void set_status(const std::string& claim_id, ClaimStatus status);

  bool visible(const Claim& c) const { return view_.visible(c.claim_id, c.ns); }
  // A copy of a stored claim with its status override, if any, applied.
  Claim overlaid(const Claim& c) const;
  // Overlaid copies of the visible claims among `refs`, at most `limit` (0 = all).
  std::vector<Claim> visible_copies(const claim_log::ClaimRefs& refs, uint64_t limit = 0) const;

  EntitySummary summary(const zorlet_core::types::EntityData& e) const;

  claim_log::ClaimLog claim_log_;
  entity_store::EntityStore entity_store_;
  std::unordered_map<std::string, ClaimStatus> status_overrides_;
  std::unordered_map<std::string, uint32_t> content_counts_;
  // Tombstoned claims whose single-claim retraction lowered their content
  // count; only their reactivation may raise it again.
  std::unordered_set<std::string> lowered_by_retraction_;
};

}  // namespace zorlet_store::backend::memory
