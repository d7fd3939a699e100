// Analytics queries.
//
// Each query answers from the counter tables (fast path) when no namespace
// filter is set and nothing is retracted, since the counters count every
// claim ever written regardless of namespace or status. Otherwise, or when
// the counters hold nothing for the asked key, it aggregates claim summaries
// reached through the indexes (summary path), applying the visibility rule to
// each. Counter layouts are described in counter_tables.h and counters.cpp.
//
// Orders: results sort stably by their count; ties keep key order on the
// fast path and first-seen order (ascending sequence number) on the summary
// path.
#include <algorithm>
#include <cstring>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "backend/lmdb/counter_tables.h"
#include "backend/lmdb/lmdb_backend.h"

namespace zorlet_store::backend::lmdb {

using codec::ClaimSummary;
using codec::ConfCounter;

namespace {

// Aggregates that remember the order in which their keys first appeared.
template <class Value>
class Ordered {
 public:
  Value& operator[](const std::string& key) {
    auto [it, inserted] = index_.try_emplace(key, items_.size());
    if (inserted) items_.emplace_back(key, Value{});
    return items_[it->second].second;
  }
  const Value* find(const std::string& key) const {
    auto it = index_.find(key);
    return it == index_.end() ? nullptr : &items_[it->second].second;
  }
  const std::vector<std::pair<std::string, Value>>& items() const { return items_; }

 private:
  std::unordered_map<std::string, size_t> index_;
  std::vector<std::pair<std::string, Value>> items_;
};

// Walks the entries whose key starts with `prefix`, in key order.
template <class Visit>
bool walk_prefix(const Txn& txn, MDB_dbi dbi, std::string_view prefix, Visit&& visit) {
  if (!key_fits(prefix)) return false;
  Cursor cur;
  if (Cursor::open(txn, dbi, cur) != MDB_SUCCESS) return false;
  std::string_view k = prefix, v;
  bool any = false;
  for (int rc = cur.get(MDB_SET_RANGE, k, v); rc == MDB_SUCCESS && k.starts_with(prefix);
       rc = cur.get(MDB_NEXT, k, v)) {
    any = true;
    visit(k.substr(prefix.size()), v);
  }
  return any;
}

// Counts, per key, the entries of a duplicate-sorted index whose value is a
// sequence number; keys that are not UTF-8 are left out.
std::unordered_map<std::string, uint64_t> count_index(const Txn& txn, MDB_dbi dbi) {
  std::unordered_map<std::string, uint64_t> out;
  Cursor cur;
  if (Cursor::open(txn, dbi, cur) != MDB_SUCCESS) return out;
  std::string_view k, v, current;
  bool started = false, key_ok = false;
  uint64_t* slot = nullptr;  // element pointers survive rehashing
  for (int rc = cur.get(MDB_FIRST, k, v); rc == MDB_SUCCESS; rc = cur.get(MDB_NEXT, k, v)) {
    if (!started || k != current) {
      started = true;
      current = k;
      key_ok = valid_utf8(k);
      slot = nullptr;
    }
    if (!key_ok || !codec::read_seq(v)) continue;
    if (!slot) slot = &out[std::string(k)];
    ++*slot;
  }
  return out;
}

// One (subject, object) pair of the contradiction summary path.
struct PairTally {
  std::string subject, object;
  ConfCounter c;
};

// Unambiguous even when ids contain the separator byte.
std::string pair_key(const std::string& subject, const std::string& object) {
  return std::to_string(subject.size()) + ':' + subject + object;
}

template <class T, class Key>
void sort_desc_by(std::vector<T>& items, Key&& key) {
  std::stable_sort(items.begin(), items.end(), [&](const T& a, const T& b) { return key(a) > key(b); });
}

}  // namespace

std::unordered_map<std::string, uint64_t> LmdbBackend::predicate_counts() {
  MDB_env* e = env();
  Txn txn;
  if (Txn::begin(e, false, txn) != MDB_SUCCESS) return {};
  std::unordered_map<std::string, uint64_t> counts;
  read_counts(txn, dbs_.pred_id_counts, counts);
  if (!counts.empty()) return counts;
  // Never filled (older store, or a bulk load not yet rebuilt): count the index.
  return count_index(txn, dbs_.predicate_idx);
}

std::unordered_map<std::string, uint64_t> LmdbBackend::source_id_counts() {
  MDB_env* e = env();
  Txn txn;
  if (Txn::begin(e, false, txn) != MDB_SUCCESS) return {};
  return count_index(txn, dbs_.source_idx);
}

std::vector<SourceCount> LmdbBackend::entity_source_counts(const std::string& entity_id) {
  MDB_env* e = env();
  const bool fast = view_.filters_off();
  Txn txn;
  if (Txn::begin(e, false, txn) != MDB_SUCCESS) return {};
  std::vector<SourceCount> out;
  if (fast) {
    walk_prefix(txn, dbs_.entity_src_counts, entity_id + codec::kSep, [&](std::string_view source, std::string_view v) {
      auto c = codec::decode_conf(v);
      if (c && c->count != 0 && valid_utf8(source))
        out.push_back({std::string(source), c->count, c->sum / static_cast<double>(c->count)});
    });
  }
  if (out.empty()) {
    Ordered<ConfCounter> per_source;
    for (uint64_t seq : dup_seqs(txn, dbs_.entity_claims_idx, entity_id)) {
      auto s = load_summary_by_seq(txn, seq);
      if (!s || !view_.visible(s->claim_id, s->ns)) continue;
      ConfCounter& c = per_source[s->source_id];
      c.count += 1;
      c.sum += s->confidence;
    }
    for (const auto& [source, c] : per_source.items())
      out.push_back({source, c.count, c.sum / static_cast<double>(c.count)});
  }
  sort_desc_by(out, [](const SourceCount& s) { return s.count; });
  return out;
}

std::vector<PredicateCount> LmdbBackend::entity_predicate_counts(const std::string& entity_id) {
  MDB_env* e = env();
  const bool fast = view_.filters_off();
  Txn txn;
  if (Txn::begin(e, false, txn) != MDB_SUCCESS) return {};
  std::vector<PredicateCount> out;
  if (fast) {
    walk_prefix(txn, dbs_.entity_pred_counts, entity_id + codec::kSep,
                [&](std::string_view predicate, std::string_view v) {
                  auto c = codec::decode_count(v);
                  if (c && *c != 0 && valid_utf8(predicate)) out.push_back({std::string(predicate), *c});
                });
  }
  if (out.empty()) {
    Ordered<uint64_t> per_predicate;
    for (uint64_t seq : dup_seqs(txn, dbs_.entity_claims_idx, entity_id)) {
      auto s = load_summary_by_seq(txn, seq);
      if (s && view_.visible(s->claim_id, s->ns)) ++per_predicate[s->predicate_id];
    }
    for (const auto& [predicate, c] : per_predicate.items()) out.push_back({predicate, c});
  }
  sort_desc_by(out, [](const PredicateCount& p) { return p.count; });
  return out;
}

std::vector<Contradiction> LmdbBackend::find_contradictions(const std::string& pred_a, const std::string& pred_b) {
  MDB_env* e = env();
  const bool fast = view_.filters_off();
  Txn txn;
  if (Txn::begin(e, false, txn) != MDB_SUCCESS) return {};
  std::vector<Contradiction> out;
  bool answered = false;
  if (fast) {
    std::vector<std::pair<std::pair<std::string, std::string>, ConfCounter>> under_a;
    answered = walk_prefix(txn, dbs_.pred_pair_counts, pred_a + codec::kSep,
                           [&](std::string_view rest, std::string_view v) {
                             size_t sep = rest.find(codec::kSep);
                             auto c = codec::decode_conf(v);
                             if (sep == std::string_view::npos || !c || c->count == 0) return;
                             std::string_view subject = rest.substr(0, sep), object = rest.substr(sep + 1);
                             if (!valid_utf8(subject) || !valid_utf8(object)) return;
                             under_a.push_back({{std::string(subject), std::string(object)}, *c});
                           });
    // The pairs come in key order, so B's keys are asked for in ascending
    // order too; one cursor then mostly finds the next key on the page it
    // already holds instead of descending from the root for each pair.
    Cursor under_b;
    const bool cursor_ok = Cursor::open(txn, dbs_.pred_pair_counts, under_b) == MDB_SUCCESS;
    for (const auto& [pair, a] : under_a) {
      std::string key(codec::cut_utf8(codec::composite(pred_b, pair.first, pair.second), 500));
      std::string_view k = key, v;
      if (!cursor_ok || !key_fits(key) || under_b.get(MDB_SET_KEY, k, v) != MDB_SUCCESS) continue;
      auto b = codec::decode_conf(v);
      if (!b || b->count == 0) continue;
      out.push_back({pair.first, pair.second, a.count, b->count, a.sum / static_cast<double>(a.count),
                     b->sum / static_cast<double>(b->count)});
    }
  }
  if (!answered) {
    auto aggregate = [&](const std::string& predicate) {
      Ordered<PairTally> per_pair;
      for (uint64_t seq : dup_seqs(txn, dbs_.predicate_idx, predicate)) {
        auto s = load_summary_by_seq(txn, seq);
        if (!s || !view_.visible(s->claim_id, s->ns)) continue;
        PairTally& t = per_pair[pair_key(s->subject_id, s->object_id)];
        if (t.c.count == 0) t.subject = s->subject_id, t.object = s->object_id;
        t.c.count += 1;
        t.c.sum += s->confidence;
      }
      return per_pair;
    };
    Ordered<PairTally> a = aggregate(pred_a);
    Ordered<PairTally> b = aggregate(pred_b);
    for (const auto& [key, tb] : b.items()) {
      const PairTally* ta = a.find(key);
      if (!ta) continue;
      out.push_back({tb.subject, tb.object, ta->c.count, tb.c.count, ta->c.sum / static_cast<double>(ta->c.count),
                     tb.c.sum / static_cast<double>(tb.c.count)});
    }
  }
  sort_desc_by(out, [](const Contradiction& c) { return c.count_a + c.count_b; });
  return out;
}

std::vector<std::string> LmdbBackend::find_single_source_entities(uint64_t min_claims) {
  MDB_env* e = env();
  Txn txn;
  if (Txn::begin(e, false, txn) != MDB_SUCCESS) return {};
  struct Tally {
    uint64_t total = 0;
    uint64_t sources = 0;
  };
  std::unordered_map<std::string, Tally> per_entity;
  Cursor cur;
  if (Cursor::open(txn, dbs_.entity_src_counts, cur) != MDB_SUCCESS) return {};
  std::string_view k, v;
  for (int rc = cur.get(MDB_FIRST, k, v); rc == MDB_SUCCESS; rc = cur.get(MDB_NEXT, k, v)) {
    size_t sep = k.find(codec::kSep);
    if (sep == std::string_view::npos || v.size() < 8) continue;
    uint64_t c = 0;
    std::memcpy(&c, v.data(), 8);  // count:u64le
    if (c == 0) continue;
    Tally& t = per_entity[std::string(k.substr(0, sep))];
    t.total += c;
    t.sources += 1;
  }
  std::vector<std::string> out;
  for (auto& [entity, t] : per_entity)
    if (t.sources == 1 && t.total >= min_claims && valid_utf8(entity)) out.push_back(entity);
  std::sort(out.begin(), out.end());
  return out;
}

std::vector<Gap> LmdbBackend::gap_analysis(const std::string& entity_type, const std::vector<std::string>& expected,
                                          uint64_t limit) {
  MDB_env* e = env();
  const bool filters_off = view_.filters_off();
  Txn txn;
  if (Txn::begin(e, false, txn) != MDB_SUCCESS) return {};
  std::vector<Gap> out;
  bool fast = false;
  if (filters_off) {
    Cursor cur;
    std::string_view k, v;
    fast = Cursor::open(txn, dbs_.entity_pred_counts, cur) == MDB_SUCCESS && cur.get(MDB_FIRST, k, v) == MDB_SUCCESS;
  }
  if (fast) {
    if (expected.empty()) return {};
    std::vector<std::string> candidates;
    if (key_fits(entity_type)) {
      Cursor cur;
      if (Cursor::open(txn, dbs_.entity_type_idx, cur) == MDB_SUCCESS) {
        std::string_view k = entity_type, v;
        for (int rc = cur.get(MDB_SET_KEY, k, v); rc == MDB_SUCCESS; rc = cur.get(MDB_NEXT_DUP, k, v))
          if (valid_utf8(v)) candidates.emplace_back(v);
      }
    }
    for (const std::string& candidate : candidates) {
      Gap gap{candidate, {}};
      for (const std::string& p : expected) {
        std::string key = codec::composite(candidate, p);
        std::string_view v;
        std::optional<uint64_t> c;
        if (key_fits(key) && txn.get(dbs_.entity_pred_counts, key, v) == MDB_SUCCESS) c = codec::decode_count(v);
        if (!c || *c == 0) gap.missing.push_back(p);
      }
      if (!gap.missing.empty() && gap.missing.size() != expected.size()) out.push_back(std::move(gap));
    }
  } else {
    // Expected predicates once each, in their given order.
    std::vector<std::string> wanted;
    std::unordered_set<std::string> seen;
    for (const std::string& p : expected)
      if (seen.insert(p).second) wanted.push_back(p);
    std::unordered_map<std::string, std::unordered_set<std::string>> present;
    for (const std::string& p : wanted) {
      for (uint64_t seq : dup_seqs(txn, dbs_.predicate_idx, p)) {
        auto s = load_summary_by_seq(txn, seq);
        if (!s || !view_.visible(s->claim_id, s->ns)) continue;
        if (s->subject_type == entity_type) present[s->subject_id].insert(p);
        if (s->object_type == entity_type) present[s->object_id].insert(p);
      }
    }
    std::vector<std::string> entities;
    entities.reserve(present.size());
    for (const auto& [id, _] : present) entities.push_back(id);
    std::sort(entities.begin(), entities.end());
    for (const std::string& id : entities) {
      Gap gap{id, {}};
      const auto& have = present[id];
      for (const std::string& p : wanted)
        if (!have.contains(p)) gap.missing.push_back(p);
      if (!gap.missing.empty()) out.push_back(std::move(gap));
    }
  }
  sort_desc_by(out, [](const Gap& g) { return g.missing.size(); });
  if (limit != 0 && out.size() > limit) out.resize(limit);
  return out;
}

}  // namespace zorlet_store::backend::lmdb
