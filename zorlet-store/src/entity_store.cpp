// The in-memory entity table and its BM25 search.
#include "entity_store.h"

#include <algorithm>
#include <cmath>
#include <unordered_set>

namespace zorlet_store::entity_store {

namespace {

// k1 = 1.2 and b = 0.75; k1 + 1 and 1 - b are written out so the arithmetic
// uses exactly these decimal constants.
constexpr double kK1 = 1.2;
constexpr double kK1Plus1 = 2.2;
constexpr double kB = 0.75;
constexpr double kOneMinusB = 0.25;

}  // namespace

void EntityStore::index_tokens(Ordinal entity, const std::vector<std::string>& tokens) {
  // Each token once per call, in order of first appearance.
  std::unordered_set<std::string_view> met;
  for (const auto& token : tokens)
    if (met.insert(token).second) text_index_[token].push_back(entity);
}

void EntityStore::upsert(std::string_view id, std::string_view entity_type, std::string_view display_name,
                         const std::optional<StringMap>& external_ids, int64_t timestamp) {
  std::string key(id);
  if (auto it = ordinal_.find(key); it != ordinal_.end()) {
    if (external_ids)
      for (const auto& [k, v] : *external_ids) records_[it->second].external_ids.insert_or_assign(k, v);
    return;
  }
  const Ordinal entity = static_cast<Ordinal>(records_.size());
  std::string name(display_name.empty() ? id : display_name);
  std::vector<std::string> tokens = tokenize(name);
  std::vector<std::string> id_tokens = tokenize(id);
  tokens.insert(tokens.end(), std::make_move_iterator(id_tokens.begin()), std::make_move_iterator(id_tokens.end()));
  index_tokens(entity, tokens);
  type_index_[std::string(entity_type)].push_back(entity);
  records_.push_back(EntityData{key, std::string(entity_type), std::move(name), external_ids.value_or(StringMap{}),
                                timestamp});
  ordinal_.emplace(std::move(key), entity);
}

bool EntityStore::update_display_name(std::string_view id, std::string_view new_display) {
  auto it = ordinal_.find(std::string(id));
  if (it == ordinal_.end()) return false;
  records_[it->second].display_name = std::string(new_display);
  index_tokens(it->second, tokenize(new_display));
  return true;
}

const EntityData* EntityStore::find(std::string_view id) const {
  auto it = ordinal_.find(std::string(id));
  return it == ordinal_.end() ? nullptr : &records_[it->second];
}

std::vector<const EntityData*> EntityStore::list(const std::optional<std::string>& entity_type) const {
  std::vector<const EntityData*> out;
  if (!entity_type) {
    out.reserve(records_.size());
    for (const auto& r : records_) out.push_back(&r);
    return out;
  }
  auto it = type_index_.find(*entity_type);
  if (it == type_index_.end()) return out;
  out.reserve(it->second.size());
  for (Ordinal o : it->second) out.push_back(&records_[o]);
  return out;
}

std::map<std::string, uint64_t> EntityStore::count_by_type() const {
  std::map<std::string, uint64_t> counts;
  for (const auto& [type, ids] : type_index_) counts[type] = ids.size();
  return counts;
}

std::optional<EntitySummary> EntityStore::get_summary(std::string_view id, uint64_t claim_count) const {
  const EntityData* e = find(id);
  if (e == nullptr) return std::nullopt;
  return zorlet_core::types::to_summary(*e, claim_count);
}

std::vector<std::string> EntityStore::postings(std::string_view token) const {
  std::vector<std::string> out;
  auto it = text_index_.find(std::string(token));
  if (it == text_index_.end()) return out;
  for (Ordinal o : it->second) out.push_back(records_[o].id);
  return out;
}

std::vector<const EntityData*> EntityStore::search(std::string_view query, uint64_t top_k) const {
  std::vector<const EntityData*> out;
  const std::vector<std::string> terms = tokenize(query);
  if (terms.empty() || records_.empty() || top_k == 0) return out;

  // Term frequencies per candidate. A term asked twice counts its postings
  // twice; the score sums over distinct terms.
  struct Candidate {
    Ordinal entity;
    std::vector<std::pair<std::size_t, uint64_t>> tf;  // (distinct term slot, tf)
    double score = 0.0;
  };
  std::vector<std::string_view> distinct;  // term slot -> term
  std::vector<double> df;
  std::vector<Candidate> candidates;
  std::unordered_map<Ordinal, std::size_t> candidate_of;
  for (const auto& term : terms) {
    auto list = text_index_.find(term);
    if (list == text_index_.end()) continue;
    std::size_t slot = std::find(distinct.begin(), distinct.end(), std::string_view(term)) - distinct.begin();
    if (slot == distinct.size()) {
      distinct.push_back(term);
      df.push_back(static_cast<double>(list->second.size()));
    }
    for (Ordinal o : list->second) {
      auto [it, fresh] = candidate_of.try_emplace(o, candidates.size());
      if (fresh) candidates.push_back(Candidate{o, {}, 0.0});
      auto& tf = candidates[it->second].tf;
      auto slot_it = std::find_if(tf.begin(), tf.end(), [&](const auto& e) { return e.first == slot; });
      if (slot_it == tf.end())
        tf.emplace_back(slot, 1);
      else
        ++slot_it->second;
    }
  }
  if (candidates.empty()) return out;

  // Document length: every posting of the entity, across the whole index.
  std::vector<uint64_t> dl(records_.size(), 0);
  uint64_t total_postings = 0;
  for (const auto& [token, ids] : text_index_) {
    total_postings += ids.size();
    for (Ordinal o : ids) ++dl[o];
  }
  const double n = static_cast<double>(records_.size());
  const double avgdl = static_cast<double>(total_postings) / n;

  for (auto& c : candidates) {
    const double norm = kK1 * (kOneMinusB + kB * static_cast<double>(dl[c.entity]) / avgdl);
    for (const auto& [slot, tf] : c.tf) {
      const double idf = std::log((n - df[slot] + 0.5) / (df[slot] + 0.5) + 1.0);
      const double f = static_cast<double>(tf);
      c.score += idf * f * kK1Plus1 / (f + norm);
    }
  }
  std::stable_sort(candidates.begin(), candidates.end(),
                   [](const Candidate& a, const Candidate& b) { return a.score > b.score; });
  const std::size_t take = static_cast<std::size_t>(std::min<uint64_t>(top_k, candidates.size()));
  out.reserve(take);
  for (std::size_t i = 0; i < take; ++i) out.push_back(&records_[candidates[i].entity]);
  return out;
}

}  // namespace zorlet_store::entity_store
