#include "backend.h"

#include <set>
#include <tuple>

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

}  // namespace zorlet_store::backend
