// In-memory backend: writes, the status and corroboration overlay, claim and
// entity lookups, and statistics. Graph and analytics queries are in
// graph_analytics.cpp.
#include "backend/memory/memory_backend.h"

#include <algorithm>
#include <limits>

#include "zorlet_core/vocabulary.h"

namespace zorlet_store::backend::memory {

using zorlet_core::types::EntityData;

// ---- Overlay and resolution helpers ----

Claim MemoryBackend::overlaid(const Claim& c) const {
  Claim copy = c;
  if (!status_overrides_.empty())
    if (auto it = status_overrides_.find(c.claim_id); it != status_overrides_.end()) copy.status = it->second;
  return copy;
}

std::vector<Claim> MemoryBackend::visible_copies(const claim_log::ClaimRefs& refs, uint64_t limit) const {
  std::vector<Claim> out;
  out.reserve(limit == 0 ? refs.size() : std::min<uint64_t>(limit, refs.size()));
  for (const Claim* c : refs) {
    if (limit != 0 && out.size() >= limit) break;
    if (visible(*c)) out.push_back(overlaid(*c));
  }
  return out;
}

EntitySummary MemoryBackend::summary(const EntityData& e) const {
  return zorlet_core::types::to_summary(e, claim_log_.entity_claim_count(e.id));
}

// ---- Writes ----

void MemoryBackend::apply_claim(Claim claim) {
  uint32_t& count = content_counts_[claim.content_id];
  if (count < std::numeric_limits<uint32_t>::max()) ++count;
  const std::string& predicate = claim.predicate.id;
  if (predicate == "same_as")
    aliases_.unite(claim.subject.id, claim.object.id);
  else if (predicate == "not_same_as")
    aliases_.split(claim.subject.id);
  claim_log_.append(std::move(claim));
}

bool MemoryBackend::insert_claim(Claim claim) {
  if (claim_log_.position_of(claim.claim_id)) return false;
  apply_claim(std::move(claim));
  return true;
}

uint64_t MemoryBackend::insert_claims_batch(std::vector<Claim> claims) {
  uint64_t stored = 0;
  for (Claim& c : claims) {
    if (claim_log_.position_of(c.claim_id)) continue;
    apply_claim(std::move(c));
    ++stored;
  }
  return stored;
}

// ---- Status changes ----

void MemoryBackend::set_status(const std::string& claim_id, ClaimStatus status) {
  if (status == ClaimStatus::Tombstoned) {
    view_.tombstoned_ids.insert(claim_id);
  } else {
    view_.tombstoned_ids.erase(claim_id);
    lowered_by_retraction_.erase(claim_id);
  }
  status_overrides_.insert_or_assign(claim_id, status);
}

Result<bool> MemoryBackend::update_claim_status(const std::string& claim_id, ClaimStatus status) {
  const Claim* stored = claim_log_.find(claim_id);
  if (stored == nullptr) return false;
  // Corroboration upkeep: a single retraction lowers its content's count, and
  // reactivating that same claim raises it back. A claim tombstoned by the
  // batch form never lowered the count, so reactivating it must not raise it
  // either, or the count would exceed the claims that carry the content id.
  const bool was_tombstoned = view_.is_tombstoned(claim_id);
  if (status == ClaimStatus::Tombstoned && !was_tombstoned) {
    auto it = content_counts_.find(stored->content_id);
    if (it != content_counts_.end() && it->second > 0) {
      --it->second;
      lowered_by_retraction_.insert(claim_id);
    }
  } else if (status != ClaimStatus::Tombstoned && was_tombstoned) {
    if (lowered_by_retraction_.contains(claim_id)) {
      uint32_t& count = content_counts_[stored->content_id];
      if (count < std::numeric_limits<uint32_t>::max()) ++count;
    }
  }
  set_status(claim_id, status);
  return true;
}

Result<uint64_t> MemoryBackend::update_claim_status_batch(std::vector<std::pair<std::string, ClaimStatus>> updates) {
  // The batch form leaves corroboration counts alone.
  uint64_t updated = 0;
  for (const auto& [claim_id, status] : updates) {
    if (!claim_log_.position_of(claim_id)) continue;
    set_status(claim_id, status);
    ++updated;
  }
  return updated;
}

// ---- Claim lookups ----

std::optional<Claim> MemoryBackend::get_claim(const std::string& claim_id) {
  const Claim* c = claim_log_.find(claim_id);
  if (c == nullptr) return std::nullopt;
  return overlaid(*c);
}

bool MemoryBackend::claim_exists(const std::string& claim_id) { return claim_log_.position_of(claim_id).has_value(); }

uint64_t MemoryBackend::count_claims() { return claim_log_.size(); }

std::vector<Claim> MemoryBackend::all_claims(uint64_t offset, uint64_t limit) {
  std::vector<Claim> out;
  uint64_t skipped = 0;
  for (const Claim& c : claim_log_.claims()) {
    if (limit != 0 && out.size() >= limit) break;
    if (!visible(c)) continue;
    if (skipped < offset) {
      ++skipped;
      continue;
    }
    out.push_back(overlaid(c));
  }
  return out;
}

std::vector<Claim> MemoryBackend::most_recent_claims(uint64_t n) {
  if (n == 0) return {};
  // Over-fetch by the number of retracted ids so that hiding them still
  // leaves n claims; claims hidden by the namespace filter are not covered.
  const uint64_t k = view_.tombstoned_ids.size();
  const uint64_t want = n > std::numeric_limits<uint64_t>::max() - k ? std::numeric_limits<uint64_t>::max() : n + k;
  return visible_copies(claim_log_.most_recent(want), n);
}

std::vector<Claim> MemoryBackend::claims_by_source_id(const std::string& source_id) {
  return visible_copies(claim_log_.by_source_id(source_id));
}

std::vector<Claim> MemoryBackend::claims_by_content_id(const std::string& content_id) {
  return visible_copies(claim_log_.by_content_id(content_id));
}

std::vector<Claim> MemoryBackend::claims_by_predicate_id(const std::string& predicate_id) {
  return visible_copies(claim_log_.by_predicate_id(predicate_id));
}

std::vector<Claim> MemoryBackend::claims_in_range(int64_t min_ts, int64_t max_ts) {
  return visible_copies(claim_log_.in_time_range(min_ts, max_ts));
}

std::vector<Claim> MemoryBackend::claims_for(const std::string& entity_id, const OptText& predicate_type,
                                             const OptText& source_type, double min_confidence, uint64_t limit) {
  const StringSet group = canonical_group(resolve_id(entity_id));
  std::vector<Claim> out;
  for (const Claim* c : claim_log_.for_entities(group)) {
    if (limit != 0 && out.size() >= limit) break;
    if (predicate_type && *predicate_type != c->predicate.predicate_type) continue;
    if (source_type && *source_type != c->provenance.source_type) continue;
    // Written as "not greater" so a NaN on either side keeps the claim.
    if (min_confidence > c->confidence) continue;
    if (!visible(*c)) continue;
    out.push_back(overlaid(*c));
  }
  return out;
}

std::vector<std::string> MemoryBackend::get_claim_provenance_chain(const std::string& claim_id) {
  const Claim* c = claim_log_.find(claim_id);
  return c == nullptr ? std::vector<std::string>{} : c->provenance.chain;
}

uint32_t MemoryBackend::corroboration_count(const std::string& content_id) {
  auto it = content_counts_.find(content_id);
  return it == content_counts_.end() ? 0 : it->second;
}

// ---- Entities ----

void MemoryBackend::upsert_entity(const std::string& id, const std::string& entity_type,
                                  const std::string& display_name, const std::optional<StringMap>& external_ids,
                                  int64_t timestamp) {
  entity_store_.upsert(id, entity_type, display_name, external_ids, timestamp);
}

Result<void> MemoryBackend::upsert_entities_batch(const std::vector<EntityRow>& rows, int64_t timestamp) {
  for (const EntityRow& r : rows) entity_store_.upsert(r.id, r.entity_type, r.display_name, r.external_ids, timestamp);
  return {};
}

bool MemoryBackend::update_display_name(const std::string& id, const std::string& new_display) {
  return entity_store_.update_display_name(id, new_display);
}

std::optional<EntitySummary> MemoryBackend::get_entity(const std::string& id) {
  return entity_store_.get_summary(id, claim_log_.entity_claim_count(id));
}

EntityNames MemoryBackend::get_entities_batch(const std::vector<std::string>& ids) {
  EntityNames out;
  for (const auto& id : ids)
    if (const EntityData* e = entity_store_.find(id)) out.try_emplace(id, e->entity_type, e->display_name);
  return out;
}

std::vector<EntitySummary> MemoryBackend::list_entities(const OptText& entity_type, uint64_t min_claims,
                                                        uint64_t offset, uint64_t limit) {
  std::vector<EntitySummary> out;
  uint64_t skipped = 0;
  for (const EntityData* e : entity_store_.list(entity_type)) {
    if (limit != 0 && out.size() >= limit) break;
    const uint64_t claims = claim_log_.entity_claim_count(e->id);
    if (claims < min_claims) continue;
    if (skipped < offset) {
      ++skipped;
      continue;
    }
    out.push_back(zorlet_core::types::to_summary(*e, claims));
  }
  return out;
}

uint64_t MemoryBackend::count_entities(const OptText& entity_type, uint64_t min_claims) {
  if (min_claims == 0) return entity_type ? entity_store_.list(entity_type).size() : entity_store_.size();
  uint64_t n = 0;
  for (const EntityData* e : entity_store_.list(entity_type))
    if (claim_log_.entity_claim_count(e->id) >= min_claims) ++n;
  return n;
}

std::vector<EntitySummary> MemoryBackend::search_entities(const std::string& query, uint64_t top_k) {
  std::vector<EntitySummary> out;
  for (const EntityData* e : entity_store_.search(query, top_k)) out.push_back(summary(*e));
  return out;
}

// ---- Statistics ----

StoreStats MemoryBackend::stats() {
  StoreStats s;
  s.total_claims = claim_log_.size();
  s.entity_count = entity_store_.size();
  s.entity_types = entity_store_.count_by_type();
  s.predicate_types = claim_log_.count_by_predicate_type();
  s.source_types = claim_log_.count_by_source_type();
  return s;
}

}  // namespace zorlet_store::backend::memory
