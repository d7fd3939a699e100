// Two-hop causal composition prediction.
//
// From the start entity, one causal step reaches intermediaries and a second
// reaches targets; the two predicates of each chain compose into a predicted
// predicate. Each (target, predicted predicate) counts the distinct
// intermediaries that support it, weighed against those that support its
// opposite. Only `outgoing_causal_edges` and `get_entity` of the backend are
// used, so every backend predicts alike.
#include "predict.h"

#include <algorithm>
#include <cmath>
#include <unordered_map>
#include <unordered_set>

namespace zorlet_store::predict {

namespace {

constexpr std::string_view kGeneric = "regulates";
constexpr std::string_view kWeakResult = "associated_with";

struct FirstLeg {
  std::string intermediary;
  std::string predicate;
  double confidence = 0.0;
};

// A later edge replaces the best one when it is more specific ("regulates"
// is the generic causal predicate), or equally specific and strictly more
// confident. NaN never wins a comparison, so it never replaces.
bool replaces(const FirstLeg& best, std::string_view predicate, double confidence) {
  bool best_generic = best.predicate == kGeneric;
  bool new_generic = predicate == kGeneric;
  if (best_generic != new_generic) return best_generic;
  return confidence > best.confidence;
}

// Highest confidence first; NaN after every number so the order stays strict.
bool more_confident(const FirstLeg& a, const FirstLeg& b) {
  if (std::isnan(b.confidence)) return !std::isnan(a.confidence);
  return a.confidence > b.confidence;
}

// The start entity's first hop: its direct targets with every predicate it
// states towards each, and the best edge per target in first-seen order.
struct FirstHop {
  std::unordered_map<std::string, std::unordered_set<std::string>> predicates_of;
  std::vector<FirstLeg> best;

  bool states(const std::string& target, const std::string& predicate) const {
    auto it = predicates_of.find(target);
    return it != predicates_of.end() && it->second.contains(predicate);
  }
  bool is_direct(const std::string& target) const { return predicates_of.contains(target); }
};

FirstHop first_hop(std::vector<backend::CausalEdge> edges, const std::string& entity_id) {
  FirstHop hop;
  std::unordered_map<std::string, size_t> best_index;
  for (auto& edge : edges) {
    if (edge.target == entity_id) continue;
    hop.predicates_of[edge.target].insert(edge.predicate);
    auto [it, fresh] = best_index.try_emplace(edge.target, hop.best.size());
    if (fresh) {
      hop.best.push_back({edge.target, edge.predicate, edge.confidence});
    } else if (FirstLeg& best = hop.best[it->second]; replaces(best, edge.predicate, edge.confidence)) {
      best.predicate = std::move(edge.predicate);
      best.confidence = edge.confidence;
    }
  }
  return hop;
}

// True when the start entity reaches the intermediary by two legs that the
// caller declares opposite; such an intermediary says nothing reliable.
bool contradictory(const std::unordered_set<std::string>& predicates, const OppositesMap& opposites) {
  if (opposites.empty()) return false;
  for (const auto& q : predicates) {
    auto it = opposites.find(q);
    if (it != opposites.end() && predicates.contains(it->second)) return true;
  }
  return false;
}

// target -> predicted predicate -> supporting intermediaries, with both
// levels kept in first-seen order so equal-ranked predictions come out stably.
class PathTable {
 public:
  void add(const std::string& target, const std::string& predicate, const std::string& intermediary) {
    auto [t, fresh_target] = target_index_.try_emplace(target, targets_.size());
    if (fresh_target) targets_.push_back({target, {}, {}});
    Target& entry = targets_[t->second];
    auto [p, fresh_predicate] = entry.index.try_emplace(predicate, entry.predicates.size());
    if (fresh_predicate) entry.predicates.push_back({predicate, {}});
    entry.predicates[p->second].second.insert(intermediary);
  }

  struct Target {
    std::string id;
    std::vector<std::pair<std::string, std::unordered_set<std::string>>> predicates;
    std::unordered_map<std::string, size_t> index;

    uint64_t support(const std::string& predicate) const {
      auto it = index.find(predicate);
      return it == index.end() ? 0 : predicates[it->second].second.size();
    }
  };
  const std::vector<Target>& targets() const { return targets_; }

 private:
  std::vector<Target> targets_;
  std::unordered_map<std::string, size_t> target_index_;
};

// The predicted predicate of a chain, or nothing. Legs of one predicate
// without a table entry keep that predicate.
const std::string* composed(const CompositionMap& composition, const std::string& first, const std::string& second) {
  if (auto it = composition.find({first, second}); it != composition.end()) return &it->second;
  return first == second ? &first : nullptr;
}

}  // namespace

std::vector<Prediction> predict_causal(backend::StorageBackend& backend, const std::string& entity_id,
                                       const backend::StringSet& causal_predicates, const CompositionMap& composition,
                                       const OppositesMap& opposites, uint64_t max_intermediaries, uint64_t min_paths,
                                       uint64_t hub_max_claims) {
  FirstHop hop = first_hop(backend.outgoing_causal_edges(entity_id, causal_predicates), entity_id);

  std::vector<FirstLeg> legs;
  legs.reserve(hop.best.size());
  for (auto& leg : hop.best)
    if (!contradictory(hop.predicates_of[leg.intermediary], opposites)) legs.push_back(leg);
  std::stable_sort(legs.begin(), legs.end(), more_confident);

  PathTable paths;
  uint64_t expanded = 0;
  for (const auto& leg : legs) {
    if (expanded == max_intermediaries) break;
    const std::string& x = leg.intermediary;
    // A hub links to so much that chains through it mean little; skipping
    // one does not use up an expansion.
    if (auto entity = backend.get_entity(x); entity && entity->claim_count > hub_max_claims) continue;
    for (const auto& edge : backend.outgoing_causal_edges(x, causal_predicates)) {
      const std::string& y = edge.target;
      if (y == entity_id || y == x) continue;
      const std::string* predicted = composed(composition, leg.predicate, edge.predicate);
      if (!predicted || *predicted == kWeakResult) continue;
      if (hop.states(y, *predicted)) continue;  // already stated, nothing to predict
      paths.add(y, *predicted, x);
    }
    ++expanded;
  }

  std::vector<Prediction> predictions;
  for (const auto& target : paths.targets()) {
    for (const auto& [predicate, supporters] : target.predicates) {
      uint64_t supporting = supporters.size();
      if (supporting < min_paths) continue;
      auto opposite = opposites.find(predicate);
      uint64_t opposing = opposite == opposites.end() ? target.support("") : target.support(opposite->second);
      if (supporting <= opposing) continue;
      predictions.push_back({target.id, predicate, supporting, opposing, !hop.is_direct(target.id), supporting});
    }
  }
  std::stable_sort(predictions.begin(), predictions.end(), [](const Prediction& a, const Prediction& b) {
    if (a.is_gap != b.is_gap) return a.is_gap;
    if (a.supporting != b.supporting) return a.supporting > b.supporting;
    return a.opposing < b.opposing;
  });
  return predictions;
}

}  // namespace zorlet_store::predict
