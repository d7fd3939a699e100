// The operation contract both backends satisfy, and the view settings they
// share. Every operation of a store is listed here once; the facade forwards
// to these after applying the read-only rules.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "metadata.h"
#include "union_find.h"
#include "zorlet_core/errors.h"
#include "zorlet_core/json.h"
#include "zorlet_core/types.h"

namespace zorlet_store::backend {

using zorlet_core::errors::Result;
using zorlet_core::types::Claim;
using zorlet_core::types::ClaimStatus;
using zorlet_core::types::EntitySummary;
using zorlet_core::types::StoreStats;
using zorlet_core::types::StringMap;

using StringSet = std::unordered_set<std::string>;
using AdjacencyMap = std::unordered_map<std::string, StringSet>;
using OptText = std::optional<std::string>;

struct CausalEdge {
  std::string target;
  std::string predicate;
  double confidence = 0.0;
};

struct ClosureEntry {
  std::string target;
  std::string predicate;
  uint64_t depth = 0;
  double confidence = 0.0;
};

struct SourceCount {
  std::string source_id;
  uint64_t count = 0;
  double avg_confidence = 0.0;
};

struct PredicateCount {
  std::string predicate_id;
  uint64_t count = 0;
};

struct Contradiction {
  std::string subject_id;
  std::string object_id;
  uint64_t count_a = 0;
  uint64_t count_b = 0;
  double avg_confidence_a = 0.0;
  double avg_confidence_b = 0.0;
};

struct Gap {
  std::string entity_id;
  std::vector<std::string> missing;
};

// (entity id, entity type, display name, external ids): a row of the entity batch.
struct EntityRow {
  std::string id;
  std::string entity_type;
  std::string display_name;
  StringMap external_ids;
};

using EntityNames = std::unordered_map<std::string, std::pair<std::string, std::string>>;

// Settings and retraction state that decide which stored claims scans return.
struct ViewState {
  std::vector<std::string> namespace_filter;  // empty = every namespace visible
  bool include_retracted = false;
  std::unordered_set<std::string> tombstoned_ids;

  // Hidden when retracted (and retracted claims are not asked for), or when a
  // namespace filter is set that does not list the claim's namespace. The
  // cheap emptiness tests come first so unfiltered stores pay nothing.
  bool visible(std::string_view claim_id, std::string_view ns) const {
    if (!include_retracted && !tombstoned_ids.empty() && tombstoned_ids.contains(std::string(claim_id)))
      return false;
    if (namespace_filter.empty()) return true;
    for (const auto& allowed : namespace_filter)
      if (allowed == ns) return true;
    return false;
  }
  bool is_tombstoned(std::string_view claim_id) const {
    return !tombstoned_ids.empty() && tombstoned_ids.contains(std::string(claim_id));
  }
  bool filters_off() const { return namespace_filter.empty() && tombstoned_ids.empty(); }
};

// Appends to `base` the inverse claims derived from it for the canonical id:
// for each claim whose object is exactly `canonical` and whose predicate has
// an inverse, a claim "inv:{id}" with subject and object swapped, the inverse
// predicate and method "inverse_derived", unless that triple is already known.
void append_inverse_claims(std::vector<Claim>& base, const std::string& canonical);

class StorageBackend {
 public:
  virtual ~StorageBackend() = default;

  // Lifecycle and administration.
  virtual Result<void> close() = 0;
  virtual Result<void> checkpoint() = 0;
  virtual uint32_t schema_version() = 0;
  virtual StoreStats stats() = 0;
  virtual Result<uint64_t> reader_check() = 0;
  virtual std::pair<uint32_t, uint32_t> reader_info() = 0;
  virtual Result<bool> compact() = 0;
  virtual Result<uint64_t> merge_from(const std::string& source_path) = 0;

  // Claim writes and status changes.
  virtual bool insert_claim(Claim claim) = 0;
  virtual uint64_t insert_claims_batch(std::vector<Claim> claims) = 0;
  virtual Result<bool> update_claim_status(const std::string& claim_id, ClaimStatus status) = 0;
  virtual Result<uint64_t> update_claim_status_batch(std::vector<std::pair<std::string, ClaimStatus>> updates) = 0;
  virtual Result<uint64_t> purge_source(const std::string& source_id) = 0;
  virtual Result<void> clear_aliases() = 0;

  // Claim reads: never an error; failures give empty answers.
  virtual std::optional<Claim> get_claim(const std::string& claim_id) = 0;
  virtual bool claim_exists(const std::string& claim_id) = 0;
  virtual uint64_t count_claims() = 0;
  virtual std::vector<Claim> all_claims(uint64_t offset, uint64_t limit) = 0;
  virtual std::vector<Claim> most_recent_claims(uint64_t n) = 0;
  virtual std::vector<Claim> claims_for(const std::string& entity_id, const OptText& predicate_type,
                                        const OptText& source_type, double min_confidence, uint64_t limit) = 0;
  // claims_for, then (when asked) the inverse claims derived for the entity's
  // canonical id; the same for both backends.
  std::vector<Claim> claims_for_with_inverse(const std::string& entity_id, const OptText& predicate_type,
                                             const OptText& source_type, double min_confidence,
                                             bool include_inverse);
  virtual std::vector<Claim> claims_by_source_id(const std::string& source_id) = 0;
  virtual std::vector<Claim> claims_by_content_id(const std::string& content_id) = 0;
  virtual std::vector<Claim> claims_by_predicate_id(const std::string& predicate_id) = 0;
  virtual std::vector<Claim> claims_in_range(int64_t min_ts, int64_t max_ts) = 0;
  virtual std::vector<std::string> get_claim_provenance_chain(const std::string& claim_id) = 0;
  virtual uint32_t corroboration_count(const std::string& content_id) = 0;

  // Entities.
  virtual void upsert_entity(const std::string& id, const std::string& entity_type, const std::string& display_name,
                             const std::optional<StringMap>& external_ids, int64_t timestamp) = 0;
  virtual Result<void> upsert_entities_batch(const std::vector<EntityRow>& rows, int64_t timestamp) = 0;
  virtual bool update_display_name(const std::string& id, const std::string& new_display) = 0;
  virtual std::optional<EntitySummary> get_entity(const std::string& id) = 0;
  virtual EntityNames get_entities_batch(const std::vector<std::string>& ids) = 0;
  virtual std::vector<EntitySummary> list_entities(const OptText& entity_type, uint64_t min_claims, uint64_t offset,
                                                   uint64_t limit) = 0;
  virtual uint64_t count_entities(const OptText& entity_type, uint64_t min_claims) = 0;
  virtual std::vector<EntitySummary> search_entities(const std::string& query, uint64_t top_k) = 0;

  // Graph.
  virtual std::vector<std::string> neighbors(const std::string& entity_id) = 0;
  virtual std::vector<std::pair<Claim, uint64_t>> bfs_claims(const std::string& entity_id, uint64_t max_depth) = 0;
  virtual bool path_exists(const std::string& a, const std::string& b, uint64_t max_depth) = 0;
  virtual AdjacencyMap get_adjacency_list() = 0;
  virtual std::vector<ClosureEntry> transitive_closure(const std::string& entity_id, const StringSet& predicates,
                                                       uint64_t max_depth) = 0;
  virtual std::vector<CausalEdge> outgoing_causal_edges(const std::string& entity_id, const StringSet& predicates) = 0;

  // Analytics.
  virtual std::unordered_map<std::string, uint64_t> predicate_counts() = 0;
  virtual std::unordered_map<std::string, uint64_t> source_id_counts() = 0;
  virtual std::vector<PredicateCount> entity_predicate_counts(const std::string& entity_id) = 0;
  virtual std::vector<SourceCount> entity_source_counts(const std::string& entity_id) = 0;
  virtual std::vector<Contradiction> find_contradictions(const std::string& pred_a, const std::string& pred_b) = 0;
  virtual std::vector<std::string> find_single_source_entities(uint64_t min_claims) = 0;
  virtual std::vector<Gap> gap_analysis(const std::string& entity_type, const std::vector<std::string>& expected,
                                        uint64_t limit) = 0;

  // Counter maintenance.
  virtual Result<void> rebuild_counters() = 0;
  virtual Result<uint64_t> rebuild_causal_adj() = 0;
  virtual Result<uint64_t> backfill_pred_id_counts() = 0;
  virtual Result<uint64_t> backfill_claim_summaries() = 0;
  virtual Result<uint64_t> backfill_analytics_counters() = 0;

  // Where lookups start: the asked id normalised, then the read-only find of
  // the alias groups (no path compression).
  std::string resolve_id(std::string_view entity_id) const;
  // The read-only alias group of a canonical id (normalised once more); it
  // holds at least the id itself.
  StringSet canonical_group(const std::string& canonical) const;

  // Alias groups and the registry live in memory in both backends.
  union_find::UnionFind& aliases() { return aliases_; }
  metadata::MetadataStore& metadata() { return metadata_; }
  // The persistent backend saves the registry at its next flush.
  virtual void mark_metadata_dirty() {}

  // View settings.
  void set_namespace_filter(std::vector<std::string> namespaces) { view_.namespace_filter = std::move(namespaces); }
  const std::vector<std::string>& namespace_filter() const { return view_.namespace_filter; }
  void set_include_retracted(bool include) { view_.include_retracted = include; }
  bool include_retracted() const { return view_.include_retracted; }
  virtual void set_bulk_load_mode(bool enabled) = 0;

 protected:
  union_find::UnionFind aliases_;
  metadata::MetadataStore metadata_;
  ViewState view_;
};

}  // namespace zorlet_store::backend
