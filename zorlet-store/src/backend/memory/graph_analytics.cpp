// In-memory graph traversal and analytics, computed from the claim log on
// every call: there are no counter tables and no causal index here.
//
// Aggregations keep their keys in first-seen order (acceptance order of the
// claims that created them), so ties after the stable sorts come out in that
// order.
#include <algorithm>
#include <deque>
#include <unordered_set>

#include "backend/memory/memory_backend.h"
#include "zorlet_core/normalization.h"
#include "zorlet_core/vocabulary.h"

namespace zorlet_store::backend::memory {

using zorlet_core::normalization::normalize_entity_id;

namespace {

// A map that remembers the order in which its keys first appeared.
template <class V>
class Ordered {
 public:
  V& operator[](const std::string& key) {
    auto [it, fresh] = slot_.try_emplace(key, entries_.size());
    if (fresh) entries_.emplace_back(key, V{});
    return entries_[it->second].second;
  }
  const std::vector<std::pair<std::string, V>>& entries() const { return entries_; }

 private:
  std::unordered_map<std::string, std::size_t> slot_;
  std::vector<std::pair<std::string, V>> entries_;
};

struct Tally {
  uint64_t count = 0;
  double sum = 0.0;
  void add(double confidence) {
    ++count;
    sum += confidence;
  }
};

}  // namespace

// ---- Graph ----

std::vector<std::string> MemoryBackend::neighbors(const std::string& entity_id) {
  const std::string r = resolve_id(entity_id);
  const StringSet group = canonical_group(r);
  StringSet seen;
  std::vector<std::string> out;
  for (const Claim* c : claim_log_.for_entity(r)) {
    if (!visible(*c)) continue;
    const std::string& other = group.contains(c->subject.id) ? c->object.id : c->subject.id;
    if (seen.insert(other).second) out.push_back(other);
  }
  return out;
}

AdjacencyMap MemoryBackend::get_adjacency_list() { return claim_log_.adjacency(); }

std::vector<std::pair<Claim, uint64_t>> MemoryBackend::bfs_claims(const std::string& entity_id, uint64_t max_depth) {
  std::vector<std::pair<Claim, uint64_t>> out;
  const StringSet group = canonical_group(resolve_id(entity_id));
  if (max_depth == 0) return out;
  StringSet visited = group;
  StringSet frontier = group;
  for (uint64_t depth = 1; !frontier.empty(); ++depth) {
    StringSet next;
    for (const Claim* c : claim_log_.for_entities(frontier)) {
      if (!visible(*c)) continue;
      out.emplace_back(overlaid(*c), depth);
      for (const std::string* end : {&c->subject.id, &c->object.id})
        if (visited.insert(*end).second) next.insert(*end);
    }
    frontier = std::move(next);
    if (depth == max_depth) break;
  }
  return out;
}

bool MemoryBackend::path_exists(const std::string& a, const std::string& b, uint64_t max_depth) {
  // Hidden claims still connect: this answers over every stored edge.
  const std::string x = resolve_id(a);
  const std::string y = resolve_id(b);
  if (x == y) return true;
  if (max_depth == 0) return false;
  StringSet visited{x};
  StringSet frontier{x};
  for (uint64_t levels = 0; !frontier.empty();) {
    StringSet next;
    for (const Claim* c : claim_log_.for_entities(frontier)) {
      for (const std::string* end : {&c->subject.id, &c->object.id}) {
        if (*end == y) return true;
        if (visited.insert(*end).second) next.insert(*end);
      }
    }
    frontier = std::move(next);
    if (++levels == max_depth) break;
  }
  return false;
}

std::vector<CausalEdge> MemoryBackend::outgoing_causal_edges(const std::string& entity_id,
                                                             const StringSet& predicates) {
  std::vector<CausalEdge> out;
  if (predicates.empty()) return out;
  const std::string id = normalize_entity_id(entity_id);
  for (const Claim* c : claim_log_.for_entity(id)) {
    if (c->subject.id != id || !predicates.contains(c->predicate.id) || !visible(*c)) continue;
    out.push_back(CausalEdge{c->object.id, c->predicate.id, c->confidence});
  }
  return out;
}

std::vector<ClosureEntry> MemoryBackend::transitive_closure(const std::string& entity_id, const StringSet& predicates,
                                                            uint64_t max_depth) {
  const uint64_t cap = std::min<uint64_t>(max_depth, 5);
  const std::string s = resolve_id(entity_id);
  StringSet visited{s};
  std::deque<ClosureEntry> queue;
  std::vector<ClosureEntry> out;
  for (auto& e : outgoing_causal_edges(s, predicates))
    if (!visited.contains(e.target)) queue.push_back({std::move(e.target), std::move(e.predicate), 1, e.confidence});
  while (!queue.empty()) {
    ClosureEntry entry = std::move(queue.front());
    queue.pop_front();
    // The first path to reach a target in breadth-first order decides it.
    if (!visited.insert(entry.target).second) continue;
    if (entry.depth < cap) {
      for (auto& e : outgoing_causal_edges(entry.target, predicates)) {
        if (visited.contains(e.target)) continue;
        std::string_view composed = zorlet_core::vocabulary::compose_predicates(entry.predicate, e.predicate);
        if (composed == "associated_with") continue;
        queue.push_back({std::move(e.target), std::string(composed), entry.depth + 1, entry.confidence * e.confidence});
      }
    }
    if (entry.depth > 1) out.push_back(std::move(entry));
  }
  return out;
}

// ---- Analytics: visible claims only, ids compared exactly as passed ----

std::unordered_map<std::string, uint64_t> MemoryBackend::predicate_counts() {
  std::unordered_map<std::string, uint64_t> counts;
  for (const Claim& c : claim_log_.claims())
    if (visible(c)) ++counts[c.predicate.id];
  return counts;
}

// Claims naming the entity as subject or object, each once. The entity index
// lists exactly these, in acceptance order, so no full scan is needed.
std::vector<SourceCount> MemoryBackend::entity_source_counts(const std::string& entity_id) {
  Ordered<Tally> by_source;
  for (const Claim* c : claim_log_.for_entity(entity_id))
    if (visible(*c)) by_source[c->provenance.source_id].add(c->confidence);
  std::vector<SourceCount> out;
  for (const auto& [source, t] : by_source.entries()) out.push_back({source, t.count, t.sum / t.count});
  std::stable_sort(out.begin(), out.end(), [](const auto& a, const auto& b) { return a.count > b.count; });
  return out;
}

std::vector<PredicateCount> MemoryBackend::entity_predicate_counts(const std::string& entity_id) {
  Ordered<uint64_t> by_predicate;
  for (const Claim* c : claim_log_.for_entity(entity_id))
    if (visible(*c)) ++by_predicate[c->predicate.id];
  std::vector<PredicateCount> out;
  for (const auto& [predicate, n] : by_predicate.entries()) out.push_back({predicate, n});
  std::stable_sort(out.begin(), out.end(), [](const auto& a, const auto& b) { return a.count > b.count; });
  return out;
}

std::vector<Contradiction> MemoryBackend::find_contradictions(const std::string& pred_a, const std::string& pred_b) {
  struct PairTally {
    const Claim* first = nullptr;  // names the pair
    Tally a;
    Tally b;
  };
  // "len(subject):subject object" names a pair unambiguously.
  auto pair_key = [](const Claim& c) {
    return std::to_string(c.subject.id.size()) + ':' + c.subject.id + c.object.id;
  };
  Ordered<PairTally> pairs;
  std::unordered_set<std::string> recorded;
  for (const Claim* c : claim_log_.by_predicate_id(pred_a)) {
    if (!visible(*c)) continue;
    std::string key = pair_key(*c);
    PairTally& t = pairs[key];
    if (t.first == nullptr) t.first = c;
    t.a.add(c->confidence);
    recorded.insert(std::move(key));
  }
  for (const Claim* c : claim_log_.by_predicate_id(pred_b)) {
    if (!visible(*c)) continue;
    std::string key = pair_key(*c);
    if (recorded.contains(key)) pairs[key].b.add(c->confidence);
  }
  std::vector<Contradiction> out;
  for (const auto& [key, t] : pairs.entries()) {
    if (t.b.count == 0) continue;
    out.push_back({t.first->subject.id, t.first->object.id, t.a.count, t.b.count, t.a.sum / t.a.count,
                   t.b.sum / t.b.count});
  }
  std::stable_sort(out.begin(), out.end(),
                   [](const auto& x, const auto& y) { return x.count_a + x.count_b > y.count_a + y.count_b; });
  return out;
}

std::vector<std::string> MemoryBackend::find_single_source_entities(uint64_t min_claims) {
  struct Sources {
    std::string first;
    uint64_t count = 0;  // claims from `first`
    bool several = false;
  };
  Ordered<Sources> entities;
  auto add = [&](const std::string& entity, const std::string& source) {
    Sources& s = entities[entity];
    if (s.count == 0) {
      s.first = source;
      s.count = 1;
    } else if (s.first == source) {
      ++s.count;
    } else {
      s.several = true;
    }
  };
  for (const Claim& c : claim_log_.claims()) {
    if (!visible(c)) continue;
    add(c.subject.id, c.provenance.source_id);
    add(c.object.id, c.provenance.source_id);
  }
  std::vector<std::string> out;
  for (const auto& [entity, s] : entities.entries())
    if (!s.several && s.count >= min_claims) out.push_back(entity);
  return out;
}

std::vector<Gap> MemoryBackend::gap_analysis(const std::string& entity_type, const std::vector<std::string>& expected,
                                             uint64_t limit) {
  Ordered<StringSet> present;
  for (const std::string& p : expected) {
    for (const Claim* c : claim_log_.by_predicate_id(p)) {
      if (!visible(*c)) continue;
      if (c->subject.entity_type == entity_type) present[c->subject.id].insert(p);
      if (c->object.entity_type == entity_type) present[c->object.id].insert(p);
    }
  }
  std::vector<std::string> wanted;  // `expected` without repeats, first occurrence kept
  for (const std::string& p : expected)
    if (std::find(wanted.begin(), wanted.end(), p) == wanted.end()) wanted.push_back(p);
  std::vector<Gap> out;
  for (const auto& [entity, has] : present.entries()) {
    Gap g{entity, {}};
    for (const std::string& p : wanted)
      if (!has.contains(p)) g.missing.push_back(p);
    if (!g.missing.empty()) out.push_back(std::move(g));
  }
  std::stable_sort(out.begin(), out.end(),
                   [](const Gap& a, const Gap& b) { return a.missing.size() > b.missing.size(); });
  if (limit != 0 && out.size() > limit) out.resize(limit);
  return out;
}

}  // namespace zorlet_store::backend::memory
