// Two-hop causal prediction over a scripted backend: only outgoing causal
// edges and entity claim counts matter to it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "predict.h"

namespace {

using namespace zorlet_store::backend;
using zorlet_store::predict::CompositionMap;
using zorlet_store::predict::OppositesMap;
using zorlet_store::predict::Prediction;

// A backend that knows causal edges (in insertion order) and claim counts.
class ScriptedBackend final : public StorageBackend {
 public:
  ScriptedBackend& edge(const std::string& from, const std::string& predicate, const std::string& to,
                        double confidence = 0.65) {
    edges_[from].push_back({to, predicate, confidence});
    return *this;
  }
  ScriptedBackend& claim_count(const std::string& id, uint64_t count) {
    counts_[id] = count;
    return *this;
  }
  std::map<std::string, int> expansions;  // outgoing_causal_edges calls per entity

  std::vector<CausalEdge> outgoing_causal_edges(const std::string& id, const StringSet& predicates) override {
    ++expansions[id];
    std::vector<CausalEdge> out;
    if (auto it = edges_.find(id); it != edges_.end())
      for (const auto& e : it->second)
        if (predicates.contains(e.predicate)) out.push_back(e);
    return out;
  }
  std::optional<EntitySummary> get_entity(const std::string& id) override {
    auto it = counts_.find(id);
    if (it == counts_.end()) return std::nullopt;
    return EntitySummary{id, id, "gene", {}, it->second};
  }

  // Nothing else is asked of a backend by the prediction.
  Result<void> close() override { return {}; }
  Result<void> checkpoint() override { return {}; }
  uint32_t schema_version() override { return 0; }
  StoreStats stats() override { return {}; }
  Result<uint64_t> reader_check() override { return 0; }
  std::pair<uint32_t, uint32_t> reader_info() override { return {}; }
  Result<bool> compact() override { return false; }
  Result<uint64_t> merge_from(const std::string&) override { return 0; }
  bool insert_claim(Claim) override { return false; }
  uint64_t insert_claims_batch(std::vector<Claim>) override { return 0; }
  Result<bool> update_claim_status(const std::string&, ClaimStatus) override { return false; }
  Result<uint64_t> update_claim_status_batch(std::vector<std::pair<std::string, ClaimStatus>>) override { return 0; }
  Result<uint64_t> purge_source(const std::string&) override { return 0; }
  Result<void> clear_aliases() override { return {}; }
  std::optional<Claim> get_claim(const std::string&) override { return std::nullopt; }
  bool claim_exists(const std::string&) override { return false; }
  uint64_t count_claims() override { return 0; }
  std::vector<Claim> all_claims(uint64_t, uint64_t) override { return {}; }
  std::vector<Claim> most_recent_claims(uint64_t) override { return {}; }
  std::vector<Claim> claims_for(const std::string&, const OptText&, const OptText&, double, uint64_t) override {
    return {};
  }
  std::vector<Claim> claims_by_source_id(const std::string&) override { return {}; }
  std::vector<Claim> claims_by_content_id(const std::string&) override { return {}; }
  std::vector<Claim> claims_by_predicate_id(const std::string&) override { return {}; }
  std::vector<Claim> claims_in_range(int64_t, int64_t) override { return {}; }
  std::vector<std::string> get_claim_provenance_chain(const std::string&) override { return {}; }
  uint32_t corroboration_count(const std::string&) override { return 0; }
  void upsert_entity(const std::string&, const std::string&, const std::string&, const std::optional<StringMap>&,
                     int64_t) override {}
  Result<void> upsert_entities_batch(const std::vector<EntityRow>&, int64_t) override { return {}; }
  bool update_display_name(const std::string&, const std::string&) override { return false; }
  EntityNames get_entities_batch(const std::vector<std::string>&) override { return {}; }
  std::vector<EntitySummary> list_entities(const OptText&, uint64_t, uint64_t, uint64_t) override { return {}; }
  uint64_t count_entities(const OptText&, uint64_t) override { return 0; }
  std::vector<EntitySummary> search_entities(const std::string&, uint64_t) override { return {}; }
  std::vector<std::string> neighbors(const std::string&) override { return {}; }
  std::vector<std::pair<Claim, uint64_t>> bfs_claims(const std::string&, uint64_t) override { return {}; }
  bool path_exists(const std::string&, const std::string&, uint64_t) override { return false; }
  AdjacencyMap get_adjacency_list() override { return {}; }
  std::vector<ClosureEntry> transitive_closure(const std::string&, const StringSet&, uint64_t) override { return {}; }
  std::unordered_map<std::string, uint64_t> predicate_counts() override { return {}; }
  std::unordered_map<std::string, uint64_t> source_id_counts() override { return {}; }
  std::vector<PredicateCount> entity_predicate_counts(const std::string&) override { return {}; }
  std::vector<SourceCount> entity_source_counts(const std::string&) override { return {}; }
  std::vector<Contradiction> find_contradictions(const std::string&, const std::string&) override { return {}; }
  std::vector<std::string> find_single_source_entities(uint64_t) override { return {}; }
  std::vector<Gap> gap_analysis(const std::string&, const std::vector<std::string>&, uint64_t) override { return {}; }
  Result<void> rebuild_counters() override { return {}; }
  Result<uint64_t> rebuild_causal_adj() override { return 0; }
  Result<uint64_t> backfill_pred_id_counts() override { return 0; }
  Result<uint64_t> backfill_claim_summaries() override { return 0; }
  Result<uint64_t> backfill_analytics_counters() override { return 0; }
  void set_bulk_load_mode(bool) override {}

 private:
  std::map<std::string, std::vector<CausalEdge>> edges_;
  std::map<std::string, uint64_t> counts_;
};

using Row = std::tuple<std::string, std::string, uint64_t, uint64_t, bool, uint64_t>;

const StringSet kCausal = {"causes", "prevents", "activates", "inhibits", "regulates"};
const CompositionMap kComposition = {
    {{"causes", "causes"}, "causes"},       {{"causes", "prevents"}, "prevents"},
    {{"prevents", "causes"}, "prevents"},   {{"prevents", "prevents"}, "causes"},
    {{"activates", "inhibits"}, "inhibits"}, {{"inhibits", "inhibits"}, "activates"},
    {{"regulates", "inhibits"}, "regulates"},
};
const OppositesMap kOpposites = {{"causes", "prevents"}, {"prevents", "causes"},
                                 {"activates", "inhibits"}, {"inhibits", "activates"}};

struct Options {
  CompositionMap composition = kComposition;
  OppositesMap opposites = kOpposites;
  uint64_t max_intermediaries = 10;
  uint64_t min_paths = 1;
  uint64_t hub_max_claims = 1'000'000;
};

std::vector<Row> predict(ScriptedBackend& backend, const Options& o = {}, const std::string& start = "A") {
  std::vector<Row> rows;
  for (const Prediction& p : zorlet_store::predict::predict_causal(backend, start, kCausal, o.composition, o.opposites,
                                                                   o.max_intermediaries, o.min_paths,
                                                                   o.hub_max_claims))
    rows.emplace_back(p.target_id, p.predicate, p.supporting, p.opposing, p.is_gap, p.intermediaries);
  return rows;
}

// A first leg from the start A to `via` and a second leg from `via` to `target`.
void chain(ScriptedBackend& b, const std::string& first, const std::string& via, const std::string& second,
           const std::string& target) {
  b.edge("A", first, via).edge(via, second, target);
}

TEST(PredictCausal, ChainPredictsAGapAndAStatedRelationIsNotPredicted) {
  ScriptedBackend chain;
  chain.edge("A", "causes", "B").edge("B", "causes", "C");
  EXPECT_EQ(predict(chain), (std::vector<Row>{{"C", "causes", 1, 0, true, 1}}));

  chain.edge("A", "causes", "C");
  EXPECT_EQ(predict(chain), std::vector<Row>{});

  // Stated with another predicate: C is a direct target, so not a gap.
  ScriptedBackend other;
  other.edge("A", "activates", "B").edge("B", "inhibits", "C").edge("A", "activates", "C");
  EXPECT_EQ(predict(other), (std::vector<Row>{{"C", "inhibits", 1, 0, false, 1}}));
}

TEST(PredictCausal, DistinctIntermediariesAddUpToMinPaths) {
  ScriptedBackend b;
  b.edge("A", "causes", "B").edge("B", "causes", "C").edge("A", "causes", "D").edge("D", "causes", "C");
  // B reaching C twice still counts once.
  b.edge("B", "causes", "C");
  Options two;
  two.min_paths = 2;
  EXPECT_EQ(predict(b, two), (std::vector<Row>{{"C", "causes", 2, 0, true, 2}}));
  two.min_paths = 3;
  EXPECT_EQ(predict(b, two), std::vector<Row>{});
}

TEST(PredictCausal, ContradictoryFirstLegsDropTheIntermediary) {
  ScriptedBackend b;
  b.edge("A", "activates", "B").edge("A", "inhibits", "B").edge("B", "inhibits", "C");
  EXPECT_EQ(predict(b), std::vector<Row>{});
  EXPECT_EQ(b.expansions.count("B"), 0u);

  // Without declared opposites the best first leg is used.
  Options none;
  none.opposites = {};
  EXPECT_EQ(predict(b, none), (std::vector<Row>{{"C", "inhibits", 1, 0, true, 1}}));
}

TEST(PredictCausal, HubsAreSkippedWithoutUsingUpAnExpansion) {
  ScriptedBackend b;
  b.edge("A", "causes", "HUB", 0.9).edge("HUB", "causes", "X");
  b.edge("A", "causes", "D", 0.5).edge("D", "causes", "Y");
  b.claim_count("HUB", 1000).claim_count("D", 3);
  Options one;
  one.max_intermediaries = 1;
  one.hub_max_claims = 999;
  EXPECT_EQ(predict(b, one), (std::vector<Row>{{"Y", "causes", 1, 0, true, 1}}));
  EXPECT_EQ(b.expansions.count("HUB"), 0u);

  // A claim count equal to the limit is not a hub; the higher-confidence
  // intermediary then takes the only expansion.
  one.hub_max_claims = 1000;
  EXPECT_EQ(predict(b, one), (std::vector<Row>{{"X", "causes", 1, 0, true, 1}}));
}

TEST(PredictCausal, ExpansionLimitFollowsFirstLegConfidence) {
  ScriptedBackend b;
  const double nan = std::numeric_limits<double>::quiet_NaN();
  b.edge("A", "causes", "N", nan).edge("N", "causes", "Z");
  b.edge("A", "causes", "L", 0.3).edge("L", "causes", "X");
  b.edge("A", "causes", "H", 0.8).edge("H", "causes", "Y");
  struct Case {
    uint64_t limit;
    std::vector<std::string> targets;
  };
  for (const Case& c : {Case{0, {}}, Case{1, {"Y"}}, Case{2, {"X", "Y"}}, Case{3, {"X", "Y", "Z"}}}) {
    Options o;
    o.max_intermediaries = c.limit;
    std::vector<std::string> targets;
    for (const auto& row : predict(b, o)) targets.push_back(std::get<0>(row));
    std::sort(targets.begin(), targets.end());
    EXPECT_EQ(targets, c.targets) << "max_intermediaries " << c.limit;
  }
}

TEST(PredictCausal, BestFirstLegPrefersSpecificOverRegulatesThenConfidence) {
  // The second leg "inhibits" composes to "inhibits" after "activates",
  // to "regulates" after "regulates" and to "activates" after "inhibits".
  struct Case {
    const char* name;
    std::vector<std::tuple<std::string, double>> first_legs;
    std::string predicted;
  };
  const Case cases[] = {
      {"specific replaces generic", {{"regulates", 0.9}, {"activates", 0.1}}, "inhibits"},
      {"generic never replaces specific", {{"activates", 0.1}, {"regulates", 0.9}}, "inhibits"},
      {"higher confidence replaces", {{"activates", 0.5}, {"inhibits", 0.7}}, "activates"},
      {"equal confidence keeps the first", {{"activates", 0.5}, {"inhibits", 0.5}}, "inhibits"},
      {"lower confidence keeps the first", {{"inhibits", 0.5}, {"activates", 0.4}}, "activates"},
      {"both generic: higher confidence", {{"regulates", 0.2}, {"regulates", 0.3}}, "regulates"},
  };
  Options o;
  o.opposites = {};
  for (const auto& c : cases) {
    ScriptedBackend b;
    for (const auto& [predicate, confidence] : c.first_legs) b.edge("A", predicate, "B", confidence);
    b.edge("B", "inhibits", "C");
    EXPECT_EQ(predict(b, o), (std::vector<Row>{{"C", c.predicted, 1, 0, true, 1}})) << c.name;
  }
}

TEST(PredictCausal, CompositionFallbackAndWeakResults) {
  ScriptedBackend b;
  b.edge("A", "activates", "B").edge("B", "activates", "C");  // no entry, equal legs: activates
  b.edge("A", "activates", "D").edge("D", "causes", "E");     // no entry, different legs: nothing
  b.edge("A", "causes", "F").edge("F", "prevents", "G");      // entry yields associated_with: nothing
  Options o;
  o.composition = {{{"causes", "prevents"}, "associated_with"}};
  EXPECT_EQ(predict(b, o), (std::vector<Row>{{"C", "activates", 1, 0, true, 1}}));
}

TEST(PredictCausal, OpposingSupportMustBeOutnumbered) {
  auto build = [](int causing) {
    ScriptedBackend b;
    for (int i = 0; i < causing; ++i) chain(b, "causes", "c" + std::to_string(i), "causes", "T");
    for (int i = 0; i < 2; ++i) chain(b, "causes", "p" + std::to_string(i), "prevents", "T");
    return b;
  };
  auto tie = build(2);
  EXPECT_EQ(predict(tie), std::vector<Row>{});
  auto more = build(3);
  EXPECT_EQ(predict(more), (std::vector<Row>{{"T", "causes", 3, 2, true, 3}}));
}

TEST(PredictCausal, SelfLoopsAndReturnsToTheStartAreIgnored) {
  ScriptedBackend b;
  b.edge("A", "causes", "A").edge("A", "causes", "B");
  b.edge("B", "causes", "A").edge("B", "causes", "B").edge("B", "causes", "C");
  EXPECT_EQ(predict(b), (std::vector<Row>{{"C", "causes", 1, 0, true, 1}}));
  EXPECT_EQ(b.expansions["A"], 1) << "the start is never expanded as an intermediary";
}

TEST(PredictCausal, GapsComeFirstThenSupportThenLessOpposition) {
  ScriptedBackend b;
  // Non-gap T (A activates T) predicted "inhibits" by five intermediaries.
  b.edge("A", "activates", "T");
  for (int i = 0; i < 5; ++i) chain(b, "activates", "x" + std::to_string(i), "inhibits", "T");
  // Gap G with support 1, gap H with support 2 and one opposing, gap K with support 2.
  b.edge("A", "causes", "g").edge("g", "causes", "G");
  for (int i = 0; i < 2; ++i) chain(b, "causes", "h" + std::to_string(i), "causes", "H");
  b.edge("A", "causes", "hp").edge("hp", "prevents", "H");
  for (int i = 0; i < 2; ++i) chain(b, "causes", "k" + std::to_string(i), "causes", "K");
  Options all;
  all.max_intermediaries = 100;
  EXPECT_EQ(predict(b, all), (std::vector<Row>{{"K", "causes", 2, 0, true, 2},
                                               {"H", "causes", 2, 1, true, 2},
                                               {"G", "causes", 1, 0, true, 1},
                                               {"T", "inhibits", 5, 0, false, 5}}));
}

TEST(PredictCausal, NoCausalPredicatesNoPredictions) {
  ScriptedBackend b;
  b.edge("A", "causes", "B").edge("B", "causes", "C");
  EXPECT_TRUE(zorlet_store::predict::predict_causal(b, "A", {}, kComposition, kOpposites, 10, 1, 100).empty());
}

}  // namespace
