// The persistent backend: one LMDB environment with 24 named databases.
//
// The class is implemented one concern per file:
//   open.cpp            open, read-only open, flush, close, schema version
//   claim_write.cpp     the claim write path and index maintenance
//   claim_lookup.cpp    claim lookups, the visibility rule and tombstone overlay
//   entities.cpp        entity records and the text index
//   entity_lookup.cpp   entity lookups and search
//   status.cpp          status changes, purge and alias reset
//   counters.cpp        counter rebuild and backfills
//   analytics.cpp       analytics queries
//   graph.cpp           graph traversal over the indexes
//   merge.cpp           merging another store directory
//   admin.cpp           reader slots, compaction, statistics
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "backend.h"
#include "backend/lmdb/codec.h"
#include "backend/lmdb/env.h"

namespace zorlet_store::backend::lmdb {

inline constexpr std::string_view kLogTarget = "zorlet_store::backend::lmdb";
inline constexpr uint32_t kSchemaVersion = 4;
inline constexpr const char* kClosedFault =
    "LMDB environment already closed \xe2\x80\x94 check for double-close or use-after-close bugs";

// The 24 named databases, in creation order.
struct Dbs {
  MDB_dbi claims = 0, claim_id_idx = 0, entities = 0, meta_blobs = 0, status_overrides = 0, pred_type_counts = 0,
          src_type_counts = 0, entity_type_counts = 0, pred_id_counts = 0, claim_summaries = 0,
          entity_pred_counts = 0, entity_src_counts = 0, pred_pair_counts = 0, content_id_idx = 0,
          entity_claims_idx = 0, adjacency_idx = 0, timestamp_idx = 0, source_idx = 0, predicate_idx = 0,
          namespace_idx = 0, project_idx = 0, entity_type_idx = 0, text_idx = 0, causal_adj = 0;
};

// Opens or creates the 24 databases in one write transaction.
Result<Dbs> create_databases(MDB_env* env);

class LmdbBackend final : public StorageBackend {
 public:
  static Result<std::unique_ptr<LmdbBackend>> open(const std::string& path);
  static Result<std::unique_ptr<LmdbBackend>> open_read_only(const std::string& path);
  ~LmdbBackend() override = default;

  // Lifecycle and administration.
  Result<void> close() override;
  Result<void> checkpoint() override { return flush_in_memory_state(); }
  uint32_t schema_version() override;
  StoreStats stats() override;
  Result<uint64_t> reader_check() override;
  std::pair<uint32_t, uint32_t> reader_info() override;
  Result<bool> compact() override;
  Result<uint64_t> merge_from(const std::string& source_path) override;

  // Claim writes and status changes.
  bool insert_claim(Claim claim) override;
  uint64_t insert_claims_batch(std::vector<Claim> claims) override;
  Result<bool> update_claim_status(const std::string& claim_id, ClaimStatus status) override;
  Result<uint64_t> update_claim_status_batch(std::vector<std::pair<std::string, ClaimStatus>> updates) override;
  Result<uint64_t> purge_source(const std::string& source_id) override;
  Result<void> clear_aliases() override;

  // Claim reads.
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

  // Entities.
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

  // Graph.
  std::vector<std::string> neighbors(const std::string& entity_id) override;
  std::vector<std::pair<Claim, uint64_t>> bfs_claims(const std::string& entity_id, uint64_t max_depth) override;
  bool path_exists(const std::string& a, const std::string& b, uint64_t max_depth) override;
  AdjacencyMap get_adjacency_list() override;
  std::vector<ClosureEntry> transitive_closure(const std::string& entity_id, const StringSet& predicates,
                                               uint64_t max_depth) override;
  std::vector<CausalEdge> outgoing_causal_edges(const std::string& entity_id, const StringSet& predicates) override;

  // Analytics.
  std::unordered_map<std::string, uint64_t> predicate_counts() override;
  std::unordered_map<std::string, uint64_t> source_id_counts() override;
  std::vector<PredicateCount> entity_predicate_counts(const std::string& entity_id) override;
  std::vector<SourceCount> entity_source_counts(const std::string& entity_id) override;
  std::vector<Contradiction> find_contradictions(const std::string& pred_a, const std::string& pred_b) override;
  std::vector<std::string> find_single_source_entities(uint64_t min_claims) override;
  std::vector<Gap> gap_analysis(const std::string& entity_type, const std::vector<std::string>& expected,
                                uint64_t limit) override;

  // Counter maintenance.
  Result<void> rebuild_counters() override;
  Result<uint64_t> rebuild_causal_adj() override;
  Result<uint64_t> backfill_pred_id_counts() override;
  Result<uint64_t> backfill_claim_summaries() override;
  Result<uint64_t> backfill_analytics_counters() override;

  void mark_metadata_dirty() override { metadata_dirty_ = true; }
  void set_bulk_load_mode(bool enabled) override { bulk_load_mode_ = enabled; }

  // ---- Shared internals of the concern files ----

  // The open environment; a closed one is the internal fault.
  MDB_env* env() const;
  const Dbs& dbs() const { return dbs_; }
  const ViewState& view() const { return view_; }
  bool read_only() const { return read_only_; }
  bool bulk_load_mode() const { return bulk_load_mode_; }
  const std::string& path() const { return path_; }

  // Persists dirty alias groups and registry together with "next_seq".
  Result<void> flush_in_memory_state();
  // Writes every entry of one claim under `seq` inside `txn`.
  Result<void> write_claim_to_txn(Txn& txn, uint64_t seq, const Claim& claim);
  // Writes, inside `txn`, every claim of the run whose id is neither stored
  // nor taken by an earlier claim of the run, under consecutive numbers from
  // the first free one, database by database in key order, and records the
  // advanced "next_seq". A claim that cannot be written is reported on
  // standard error after `stderr_prefix` and skipped. The caller commits and
  // then calls set_next_seq(next_seq).
  struct WrittenChunk {
    std::vector<const Claim*> stored;
    uint64_t next_seq = 0;
  };
  Result<WrittenChunk> write_claim_chunk(Txn& txn, const std::vector<const Claim*>& claims,
                                         const char* stderr_prefix);
  // "same_as" unites, "not_same_as" splits; runs after the commit.
  void apply_alias_predicate(const Claim& claim);
  // The first free sequence number as seen by `txn`: the larger of the
  // in-memory value and the stored "next_seq", so that two writers on one
  // store never hand out one number twice.
  uint64_t allocate_seq_base(Txn& txn);
  // Records the advanced "next_seq" inside the writing transaction.
  Result<void> store_next_seq(Txn& txn, uint64_t next);
  void set_next_seq(uint64_t next) { next_seq_ = next; }
  void mark_aliases_dirty() { aliases_dirty_ = true; }
  uint64_t next_seq() const { return next_seq_; }

  // Read helpers shared by lookups, analytics and graph.
  std::optional<Claim> load_claim(const Txn& txn, uint64_t seq) const;
  std::vector<Claim> load_claims(const Txn& txn, const std::vector<uint64_t>& seqs) const;
  // All sequence numbers under `key` in a duplicate-sorted index, ascending.
  std::vector<uint64_t> dup_seqs(const Txn& txn, MDB_dbi dbi, std::string_view key) const;
  std::vector<Claim> claims_for_entities(const Txn& txn, const StringSet& ids) const;
  std::optional<codec::ClaimSummary> load_summary_by_seq(const Txn& txn, uint64_t seq) const;
  std::vector<Claim> claims_by_str_index(MDB_dbi dbi, const std::string& key);
  // The claims of `seqs` that pass the visibility rule, with the overlay, in order.
  std::vector<Claim> visible_claims(const Txn& txn, const std::vector<uint64_t>& seqs) const;
  // Tombstoned claims show as Tombstoned in every returned copy.
  void apply_tombstone_overlay(Claim& claim) const;
  // The read-only alias group of the resolved id (the id included).
  StringSet alias_group_of(std::string_view entity_id) const;
  // Status changes keep `tombstoned_ids` current after their commit.
  void note_status(const std::string& claim_id, ClaimStatus status);

 private:
  LmdbBackend() = default;
  static Result<std::unique_ptr<LmdbBackend>> assemble(EnvPtr env, std::string path, bool read_only);

  EnvPtr env_;
  std::string path_;
  Dbs dbs_;
  uint64_t next_seq_ = 0;
  bool aliases_dirty_ = false;
  bool metadata_dirty_ = false;
  bool read_only_ = false;
  bool bulk_load_mode_ = false;

};

}  // namespace zorlet_store::backend::lmdb
