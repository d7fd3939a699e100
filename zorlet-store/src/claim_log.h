// The claim table of the in-memory store: an append-only list of claims with
// the secondary indexes that answer lookups without scanning.
//
// Invariants:
//   - nothing is ever removed, replaced or edited, so a claim's position (its
//     0-based index in `claims_`) never changes and positions are dense;
//   - every list of positions is in append order and never holds a position
//     twice;
//   - `timestamps_sorted_` is true exactly while every appended timestamp was
//     >= the one before it; once cleared it stays cleared.
//
// Index keys are the claim's strings exactly as stored; callers normalise ids
// before asking if they need to.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "zorlet_core/types.h"

namespace zorlet_store::claim_log {

using zorlet_core::types::Claim;
using Position = std::size_t;
using Positions = std::vector<Position>;
// Read-only views into the log; valid until the next append.
using ClaimRefs = std::vector<const Claim*>;
using StringSet = std::unordered_set<std::string>;

// Keyed by std::string with the standard hash, which the library caches per
// node. (Heterogeneous string_view lookup is avoided on purpose: this standard
// library answers it by a linear walk over the whole table.)
template <class V>
using TextMap = std::unordered_map<std::string, V>;

class ClaimLog {
 public:
  ClaimLog() = default;  // `new`: empty, timestamps sorted

  // Stores the claim and updates every index. Never fails, never checks for
  // duplicate ids: the backend refuses those before appending.
  void append(Claim claim);

  std::size_t size() const { return claims_.size(); }
  const std::vector<Claim>& claims() const { return claims_; }
  bool timestamps_sorted() const { return timestamps_sorted_; }

  // id_index: the position of the last claim appended with that id.
  std::optional<Position> position_of(const std::string& claim_id) const;
  const Claim* find(const std::string& claim_id) const;

  // Claims naming the id as subject or object, in append order.
  ClaimRefs for_entity(const std::string& entity_id) const;
  // The union over the set, each claim once: grouped by entity in the set's
  // iteration order, append order within an entity.
  ClaimRefs for_entities(const StringSet& entity_ids) const;
  // Length of the entity's list: claims naming it as subject or object.
  std::size_t entity_claim_count(const std::string& entity_id) const;

  ClaimRefs by_content_id(const std::string& content_id) const;
  ClaimRefs by_source_id(const std::string& source_id) const;
  ClaimRefs by_predicate_id(const std::string& predicate_id) const;

  // The n claims with the greatest timestamps, newest first; equal
  // timestamps come out later-appended first.
  ClaimRefs most_recent(uint64_t n) const;
  // min_ts <= timestamp <= max_ts, oldest first, equal timestamps in append order.
  ClaimRefs in_time_range(int64_t min_ts, int64_t max_ts) const;

  // Over every claim in the log, whatever its status.
  std::map<std::string, uint64_t> count_by_source_type() const;
  std::map<std::string, uint64_t> count_by_predicate_type() const;

  // For every claim whose object differs from its subject, each end lists
  // the other. Built fresh on each call; entities with no such claim are absent.
  std::unordered_map<std::string, StringSet> adjacency() const;

 private:
  using TimePoint = std::pair<int64_t, Position>;

  ClaimRefs at(const Positions* positions) const;
  ClaimRefs lookup(const TextMap<Positions>& index, const std::string& key) const;
  // The time index itself while it is sorted, otherwise a stably sorted copy in `scratch`.
  const std::vector<TimePoint>& ordered_times(std::vector<TimePoint>& scratch) const;

  // One entry per entity id named by a claim: the entity_index list and the
  // adjacency set together, so an append costs one lookup per end. Neighbours
  // are held as ordinals into `entity_ids_`; a set of small integers hashes
  // in one step, where a set of strings would walk and compare its nodes.
  using Ordinal = uint32_t;
  struct EntityEntry {
    Ordinal ordinal = 0;
    Positions claims;
    std::unordered_set<Ordinal> neighbours;
  };
  EntityEntry& entity(const std::string& id);

  std::vector<Claim> claims_;
  TextMap<Position> id_index_;
  TextMap<Positions> content_index_;
  TextMap<EntityEntry> entity_index_;
  // ordinal -> the key of its entity_index_ node (node keys never move).
  std::vector<const std::string*> entity_ids_;
  std::vector<TimePoint> timestamp_index_;
  bool timestamps_sorted_ = true;
  TextMap<Positions> source_index_;
  TextMap<Positions> predicate_index_;
};

}  // namespace zorlet_store::claim_log
