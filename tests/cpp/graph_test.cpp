// The seeded source sampler and Brandes betweenness: the generator against
// its reference stream, exact scores on small shapes, and agreement with an
// all-pairs computation that shares no code with the routine.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "graph.h"

namespace {

using zorlet_store::backend::AdjacencyMap;
using zorlet_store::graph::brandes_betweenness;
using zorlet_store::graph::ChaCha12;
using Scores = std::unordered_map<std::string, double>;

nlohmann::json load_reference() {
  std::ifstream in(std::string(ZORLET_TESTDATA_DIR) + "/chacha12.json");
  EXPECT_TRUE(in.good()) << "reference data missing";
  return nlohmann::json::parse(in);
}

std::string hex_of(const std::array<uint8_t, 32>& bytes) {
  std::string out;
  char buf[3];
  for (uint8_t b : bytes) {
    std::snprintf(buf, sizeof buf, "%02x", b);
    out += buf;
  }
  return out;
}

TEST(ChaCha12, MatchesReferenceKeysStreamsAndShuffles) {
  auto reference = load_reference();
  ASSERT_FALSE(reference["seeds"].empty());
  for (const auto& entry : reference["seeds"]) {
    const auto seed = entry["seed"].get<uint64_t>();
    SCOPED_TRACE("seed " + std::to_string(seed));
    EXPECT_EQ(hex_of(ChaCha12::key_from_seed(seed)), entry["key_hex"].get<std::string>());

    // 20 words cross the first block boundary.
    ChaCha12 rng(seed);
    for (auto expected : entry["first_u32"]) EXPECT_EQ(rng.next_u32(), expected.get<uint32_t>());

    for (const auto& [n_text, expected] : entry["shuffle_of_range"].items()) {
      std::vector<uint32_t> items(std::stoul(n_text));
      std::iota(items.begin(), items.end(), 0u);
      ChaCha12 fresh(seed);
      zorlet_store::graph::shuffle(items, fresh);
      EXPECT_EQ(items, expected.get<std::vector<uint32_t>>()) << "n = " << n_text;
    }
  }
}

TEST(ChaCha12, SourcesAreTheHeadOfTheSeededShuffle) {
  auto reference = load_reference();
  for (const auto& entry : reference["seeds"]) {
    auto shuffled = entry["shuffle_of_range"]["100"].get<std::vector<uint32_t>>();
    auto sources = zorlet_store::graph::pick_sources(100, 7, entry["seed"].get<uint64_t>());
    EXPECT_EQ(sources, std::vector<uint32_t>(shuffled.begin(), shuffled.begin() + 7));
  }
  // No sampling: every node, in number order, with no draw at all.
  EXPECT_EQ(zorlet_store::graph::pick_sources(4, 4, 1), (std::vector<uint32_t>{0, 1, 2, 3}));
  EXPECT_EQ(zorlet_store::graph::pick_sources(4, 9, 1), (std::vector<uint32_t>{0, 1, 2, 3}));
}

TEST(ChaCha12, BoundedDrawsStayInRangeAndReachEveryValue) {
  ChaCha12 rng(7);
  for (uint32_t m : {1u, 2u, 3u, 7u, 1000u, 0x80000001u, 0xFFFFFFFFu}) {
    for (int i = 0; i < 200; ++i) ASSERT_LT(rng.below(m), m);
  }
  std::vector<int> seen(6, 0);
  for (int i = 0; i < 600; ++i) ++seen[rng.below(6)];
  for (int count : seen) EXPECT_GT(count, 50);
}

struct SourceCountCase {
  uint64_t n, edge_total, sample_size;
  bool adaptive;
  uint64_t expected;
};

TEST(Betweenness, NumberOfSources) {
  const SourceCountCase cases[] = {
      {100, 1000, 0, true, 100},           // exact mode ignores the adaptive rule
      {100, 1000, 10, true, 10},           // small graph: the sample size bounds
      {5000, 20001, 200, true, 200},       // at the threshold: not adaptive yet
      {5000, 20002, 200, true, 199},       // 10001 edges: 1_500_000 / 10001 + 50
      {5000, 100000, 200, true, 80},       // 50000 edges: 30 + 50
      {5000, 100000, 60, true, 60},        // the sample size still bounds
      {40, 100000, 200, true, 40},         // and so does n
      {5000, 100000, 200, false, 200},     // adaptive off
      {200000, 3000002, 200, true, 50},    // over 1.5M edges: the floor of 50
      {200000, 3000000, 200, true, 51},    // exactly 1.5M edges: 1 + 50
      {5000, 100000, 0, false, 5000},
  };
  for (const auto& c : cases)
    EXPECT_EQ(zorlet_store::graph::source_count(c.n, c.edge_total, c.sample_size, c.adaptive), c.expected)
        << "n=" << c.n << " E=" << c.edge_total << " sample=" << c.sample_size << " adaptive=" << c.adaptive;
}

// Symmetric adjacency from an edge list.
AdjacencyMap undirected(std::initializer_list<std::pair<const char*, const char*>> edges) {
  AdjacencyMap g;
  for (auto [a, b] : edges) {
    g[a].insert(b);
    g[b].insert(a);
  }
  return g;
}

TEST(Betweenness, ExactScoresOnSmallShapes) {
  EXPECT_TRUE(brandes_betweenness({}, 200, 42, true, 10000).empty());

  EXPECT_EQ(brandes_betweenness(undirected({{"A", "B"}}), 200, 42, true, 10000), (Scores{{"A", 0.0}, {"B", 0.0}}));

  // Path A-B-C: B lies on both ordered paths between A and C.
  auto path = brandes_betweenness(undirected({{"A", "B"}, {"B", "C"}}), 200, 42, true, 10000);
  ASSERT_EQ(path.size(), 3u);
  EXPECT_NEAR(path["B"], 2.0 * 2.0 / (3.0 * 2.0 * 1.0), 1e-12);
  EXPECT_EQ(path["A"], 0.0);
  EXPECT_EQ(path["C"], 0.0);

  // Star: the centre carries all 12 ordered leaf pairs.
  auto star = brandes_betweenness(undirected({{"H", "1"}, {"H", "2"}, {"H", "3"}, {"H", "4"}}), 0, 42, true, 0);
  ASSERT_EQ(star.size(), 5u);
  EXPECT_NEAR(star["H"], 0.4, 1e-12);
  for (const char* leaf : {"1", "2", "3", "4"}) EXPECT_EQ(star[leaf], 0.0);

  // A lone node with no neighbours still gets a score.
  AdjacencyMap lone{{"X", {}}};
  EXPECT_EQ(brandes_betweenness(lone, 200, 42, true, 10000), (Scores{{"X", 0.0}}));
}

TEST(Betweenness, NodeCapKeepsTheBestConnected) {
  auto capped = brandes_betweenness(undirected({{"A", "B"}, {"B", "C"}}), 200, 42, true, 2);
  ASSERT_EQ(capped.size(), 2u);
  EXPECT_TRUE(capped.contains("B"));
  EXPECT_TRUE(capped.contains("A") || capped.contains("C"));
  for (const auto& [id, score] : capped) EXPECT_EQ(score, 0.0);

  // Two linked hubs and a separate path X-Y-Z: a cap of 3 keeps H, G and Y,
  // and Y, with no kept neighbour, leaves the graph.
  auto g = undirected(
      {{"H", "1"}, {"H", "2"}, {"H", "3"}, {"H", "G"}, {"G", "4"}, {"G", "5"}, {"X", "Y"}, {"Y", "Z"}});
  auto kept = brandes_betweenness(g, 0, 42, true, 3);
  EXPECT_EQ(kept, (Scores{{"H", 0.0}, {"G", 0.0}}));
}

// ---- Independent reference: all-pairs shortest-path counting ----

struct Reference {
  std::vector<std::string> ids;
  std::vector<std::vector<int>> adj;
};

Reference numbered(const AdjacencyMap& g) {
  Reference r;
  std::map<std::string, int> index;
  for (const auto& [id, _] : g) index.emplace(id, 0);
  for (auto& [id, i] : index) {
    i = static_cast<int>(r.ids.size());
    r.ids.push_back(id);
  }
  r.adj.resize(r.ids.size());
  for (const auto& [id, neighbours] : g)
    for (const auto& nb : neighbours)
      if (auto it = index.find(nb); it != index.end()) r.adj[index[id]].push_back(it->second);
  return r;
}

// dist[s][t] (-1 unreachable) and the number of shortest paths s -> t.
void all_pairs(const Reference& r, std::vector<std::vector<int>>& dist, std::vector<std::vector<double>>& count) {
  size_t n = r.ids.size();
  dist.assign(n, std::vector<int>(n, -1));
  count.assign(n, std::vector<double>(n, 0.0));
  for (size_t s = 0; s < n; ++s) {
    std::vector<int> queue{static_cast<int>(s)};
    dist[s][s] = 0;
    count[s][s] = 1;
    for (size_t head = 0; head < queue.size(); ++head) {
      int v = queue[head];
      for (int w : r.adj[v]) {
        if (dist[s][w] < 0) {
          dist[s][w] = dist[s][v] + 1;
          queue.push_back(w);
        }
        if (dist[s][w] == dist[s][v] + 1) count[s][w] += count[s][v];
      }
    }
  }
}

// Centrality summed over the given sources: the share of s -> t shortest
// paths that pass through v, for every target t.
std::vector<double> reference_centrality(const Reference& r, const std::vector<int>& sources) {
  std::vector<std::vector<int>> dist;
  std::vector<std::vector<double>> count;
  all_pairs(r, dist, count);
  size_t n = r.ids.size();
  std::vector<double> cb(n, 0.0);
  for (int s : sources)
    for (size_t t = 0; t < n; ++t) {
      if (static_cast<int>(t) == s || dist[s][t] < 0) continue;
      for (size_t v = 0; v < n; ++v) {
        if (static_cast<int>(v) == s || v == t || dist[s][v] < 0 || dist[v][t] < 0) continue;
        if (dist[s][v] + dist[v][t] == dist[s][t]) cb[v] += count[s][v] * count[v][t] / count[s][t];
      }
    }
  return cb;
}

Scores reference_scores(const Reference& r, const std::vector<double>& cb, size_t k) {
  double n = static_cast<double>(r.ids.size());
  Scores out;
  for (size_t v = 0; v < r.ids.size(); ++v)
    out[r.ids[v]] = std::clamp(cb[v] / static_cast<double>(k) * 2.0 / std::max((n - 1) * (n - 2), 1.0), 0.0, 1.0);
  return out;
}

// Random graphs with isolated nodes, neighbour ids that are not nodes, and
// (when `directed`) one-way links.
AdjacencyMap random_graph(std::mt19937& gen, int n, double p, bool directed) {
  AdjacencyMap g;
  std::bernoulli_distribution link(p);
  for (int i = 0; i < n; ++i) g["n" + std::to_string(i)];
  for (int i = 0; i < n; ++i)
    for (int j = directed ? 0 : i + 1; j < n; ++j) {
      if (i == j || !link(gen)) continue;
      g["n" + std::to_string(i)].insert("n" + std::to_string(j));
      if (!directed) g["n" + std::to_string(j)].insert("n" + std::to_string(i));
    }
  g["n0"].insert("ghost");  // not a node: ignored
  return g;
}

void expect_scores_near(const Scores& actual, const Scores& expected) {
  ASSERT_EQ(actual.size(), expected.size());
  for (const auto& [id, score] : expected) {
    ASSERT_TRUE(actual.contains(id)) << id;
    EXPECT_NEAR(actual.at(id), score, 1e-12 + 1e-9 * score) << id;
  }
}

TEST(Betweenness, ExactModeAgreesWithAllPairsCounting) {
  std::mt19937 gen(20240611);
  for (int trial = 0; trial < 24; ++trial) {
    bool directed = trial % 3 == 2;
    int n = 12 + trial * 2;
    double p = trial % 2 ? 0.08 : 0.2;
    SCOPED_TRACE("trial " + std::to_string(trial));
    AdjacencyMap g = random_graph(gen, n, p, directed);
    Reference r = numbered(g);
    std::vector<int> all(r.ids.size());
    std::iota(all.begin(), all.end(), 0);
    expect_scores_near(brandes_betweenness(g, 0, 42, true, 0),
                       reference_scores(r, reference_centrality(r, all), all.size()));
  }
}

TEST(Betweenness, CappedGraphAgreesWithAllPairsCountingOnTheKeptNodes) {
  std::mt19937 gen(99);
  for (int trial = 0; trial < 8; ++trial) {
    AdjacencyMap g = random_graph(gen, 40, 0.1, false);
    const uint64_t cap = 15;
    Scores capped = brandes_betweenness(g, 0, 1, true, cap);
    ASSERT_LE(capped.size(), cap);

    // A node ranked above a kept one can only be missing because none of its
    // neighbours was kept.
    for (const auto& [kept, _] : capped)
      for (const auto& [other, neighbours] : g) {
        if (capped.contains(other) || neighbours.size() <= g.at(kept).size()) continue;
        for (const auto& nb : neighbours) EXPECT_FALSE(capped.contains(nb)) << other << " was ranked above " << kept;
      }

    AdjacencyMap induced;
    for (const auto& [id, _] : capped)
      for (const auto& nb : g.at(id))
        if (capped.contains(nb)) induced[id].insert(nb);
    for (const auto& [id, _] : capped) EXPECT_FALSE(induced[id].empty()) << "kept node without kept neighbours";
    Reference r = numbered(induced);
    std::vector<int> all(r.ids.size());
    std::iota(all.begin(), all.end(), 0);
    expect_scores_near(capped, reference_scores(r, reference_centrality(r, all), all.size()));
  }
}

TEST(Betweenness, OneSampledSourceGivesThatSourcesShare) {
  std::mt19937 gen(5);
  AdjacencyMap g = random_graph(gen, 30, 0.15, false);
  Reference r = numbered(g);
  Scores sampled = brandes_betweenness(g, 1, 1234, false, 0);
  EXPECT_EQ(sampled, brandes_betweenness(g, 1, 1234, false, 0)) << "same seed, same graph object, same sources";

  int matches = 0;
  for (int s = 0; s < static_cast<int>(r.ids.size()); ++s) {
    Scores expected = reference_scores(r, reference_centrality(r, {s}), 1);
    bool same = std::all_of(expected.begin(), expected.end(), [&](const auto& e) {
      return std::abs(sampled.at(e.first) - e.second) <= 1e-12 + 1e-9 * e.second;
    });
    matches += same;
  }
  EXPECT_GE(matches, 1) << "the scores are not those of any single source";

  // A sample as large as the graph is the exact computation.
  std::vector<int> all(r.ids.size());
  std::iota(all.begin(), all.end(), 0);
  expect_scores_near(brandes_betweenness(g, 1000, 7, true, 0),
                     reference_scores(r, reference_centrality(r, all), all.size()));
}

}  // namespace
