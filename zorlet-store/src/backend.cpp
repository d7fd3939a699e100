#include "backend.h"

#include <set>
#include <tuple>

#include "zorlet_core/normalization.h"
#include "zorlet_core/vocabulary.h"

namespace zorlet_store::backend {

void append_inverse_claims(std::vector<Claim>& base, const std::string& canonical) {
  using Triple = std::tuple<std::string, std::string, std::string>;
  std::set<Triple> known;
  for (const Claim& c : base) known.emplace(c.subject.id, c.predicate.id, c.object.id);
  std::vector<Claim> derived;
  for (const Claim& c : base) {
    if (c.object.id != canonical) continue;
    auto inverse = zorlet_core::vocabulary::inverse_predicate(c.predicate.id);
    if (!inverse) continue;
    if (!known.emplace(canonical, std::string(*inverse), c.subject.id).second) continue;
    Claim d = c;
    d.claim_id = "inv:" + c.claim_id;
    std::swap(d.subject, d.object);
    d.predicate.id = std::string(*inverse);
    d.provenance.method = "inverse_derived";
    derived.push_back(std::move(d));
  }
  base.insert(base.end(), std::make_move_iterator(derived.begin()), std::make_move_iterator(derived.end()));
}

std::string StorageBackend::resolve_id(std::string_view entity_id) const {
  return aliases_.find_readonly(zorlet_core::normalization::normalize_entity_id(entity_id));
}

StringSet StorageBackend::canonical_group(const std::string& canonical) const {
  return aliases_.get_group_readonly(zorlet_core::normalization::normalize_entity_id(canonical));
}

std::vector<Claim> StorageBackend::claims_for_with_inverse(const std::string& entity_id, const OptText& predicate_type,
                                                           const OptText& source_type, double min_confidence,
                                                           bool include_inverse) {
  std::vector<Claim> base = claims_for(entity_id, predicate_type, source_type, min_confidence, 0);
  if (include_inverse) append_inverse_claims(base, resolve_id(entity_id));
  return base;
}

}  // namespace zorlet_store::backend
