// The in-memory claim table and its indexes.
#include "claim_log.h"

#include <algorithm>

namespace zorlet_store::claim_log {

namespace {

void push(TextMap<Positions>& index, const std::string& key, Position p) { index[key].push_back(p); }

}  // namespace

ClaimLog::EntityEntry& ClaimLog::entity(const std::string& id) {
  auto [it, fresh] = entity_index_.try_emplace(id);
  if (fresh) {
    it->second.ordinal = static_cast<Ordinal>(entity_ids_.size());
    entity_ids_.push_back(&it->first);
  }
  return it->second;
}

void ClaimLog::append(Claim claim) {
  const Position p = claims_.size();
  id_index_.insert_or_assign(claim.claim_id, p);
  push(content_index_, claim.content_id, p);
  EntityEntry& subject = entity(claim.subject.id);
  subject.claims.push_back(p);
  if (claim.object.id != claim.subject.id) {
    EntityEntry& object = entity(claim.object.id);  // references into the map survive rehashing
    object.claims.push_back(p);
    subject.neighbours.insert(object.ordinal);
    object.neighbours.insert(subject.ordinal);
  }
  push(source_index_, claim.provenance.source_id, p);
  push(predicate_index_, claim.predicate.id, p);
  if (timestamps_sorted_ && !timestamp_index_.empty() && claim.timestamp < timestamp_index_.back().first)
    timestamps_sorted_ = false;
  timestamp_index_.emplace_back(claim.timestamp, p);
  claims_.push_back(std::move(claim));
}

std::optional<Position> ClaimLog::position_of(const std::string& claim_id) const {
  auto it = id_index_.find(claim_id);
  if (it == id_index_.end()) return std::nullopt;
  return it->second;
}

const Claim* ClaimLog::find(const std::string& claim_id) const {
  auto p = position_of(claim_id);
  return p ? &claims_[*p] : nullptr;
}

ClaimRefs ClaimLog::at(const Positions* positions) const {
  ClaimRefs out;
  if (positions == nullptr) return out;
  out.reserve(positions->size());
  for (Position p : *positions) out.push_back(&claims_[p]);
  return out;
}

ClaimRefs ClaimLog::lookup(const TextMap<Positions>& index, const std::string& key) const {
  auto it = index.find(key);
  return at(it == index.end() ? nullptr : &it->second);
}

ClaimRefs ClaimLog::for_entity(const std::string& entity_id) const {
  auto it = entity_index_.find(entity_id);
  return at(it == entity_index_.end() ? nullptr : &it->second.claims);
}

ClaimRefs ClaimLog::for_entities(const StringSet& entity_ids) const {
  if (entity_ids.size() == 1) return for_entity(*entity_ids.begin());
  ClaimRefs out;
  std::unordered_set<Position> seen;
  for (const auto& id : entity_ids) {
    auto it = entity_index_.find(id);
    if (it == entity_index_.end()) continue;
    for (Position p : it->second.claims)
      if (seen.insert(p).second) out.push_back(&claims_[p]);
  }
  return out;
}

std::size_t ClaimLog::entity_claim_count(const std::string& entity_id) const {
  auto it = entity_index_.find(entity_id);
  return it == entity_index_.end() ? 0 : it->second.claims.size();
}

std::unordered_map<std::string, StringSet> ClaimLog::adjacency() const {
  std::unordered_map<std::string, StringSet> out;
  for (const auto& [id, e] : entity_index_) {
    if (e.neighbours.empty()) continue;
    StringSet& others = out[id];
    others.reserve(e.neighbours.size());
    for (Ordinal o : e.neighbours) others.insert(*entity_ids_[o]);
  }
  return out;
}

ClaimRefs ClaimLog::by_content_id(const std::string& content_id) const { return lookup(content_index_, content_id); }
ClaimRefs ClaimLog::by_source_id(const std::string& source_id) const { return lookup(source_index_, source_id); }
ClaimRefs ClaimLog::by_predicate_id(const std::string& predicate_id) const {
  return lookup(predicate_index_, predicate_id);
}

const std::vector<ClaimLog::TimePoint>& ClaimLog::ordered_times(std::vector<TimePoint>& scratch) const {
  if (timestamps_sorted_) return timestamp_index_;
  // Positions are unique and ascending within equal timestamps already, so a
  // stable sort by timestamp gives (timestamp, position) order.
  scratch = timestamp_index_;
  std::stable_sort(scratch.begin(), scratch.end(),
                   [](const TimePoint& a, const TimePoint& b) { return a.first < b.first; });
  return scratch;
}

ClaimRefs ClaimLog::most_recent(uint64_t n) const {
  ClaimRefs out;
  if (n == 0) return out;
  std::vector<TimePoint> scratch;
  const auto& times = ordered_times(scratch);
  const std::size_t take = static_cast<std::size_t>(std::min<uint64_t>(n, times.size()));
  out.reserve(take);
  for (auto it = times.rbegin(); out.size() < take; ++it) out.push_back(&claims_[it->second]);
  return out;
}

ClaimRefs ClaimLog::in_time_range(int64_t min_ts, int64_t max_ts) const {
  ClaimRefs out;
  if (min_ts > max_ts) return out;
  std::vector<TimePoint> scratch;
  const auto& times = ordered_times(scratch);
  auto first = std::partition_point(times.begin(), times.end(), [&](const TimePoint& t) { return t.first < min_ts; });
  auto last = std::partition_point(first, times.end(), [&](const TimePoint& t) { return t.first <= max_ts; });
  out.reserve(static_cast<std::size_t>(last - first));
  for (auto it = first; it != last; ++it) out.push_back(&claims_[it->second]);
  return out;
}

std::map<std::string, uint64_t> ClaimLog::count_by_source_type() const {
  std::map<std::string, uint64_t> counts;
  for (const Claim& c : claims_) ++counts[c.provenance.source_type];
  return counts;
}

std::map<std::string, uint64_t> ClaimLog::count_by_predicate_type() const {
  std::map<std::string, uint64_t> counts;
  for (const Claim& c : claims_) ++counts[c.predicate.predicate_type];
  return counts;
}

}  // namespace zorlet_store::claim_log
