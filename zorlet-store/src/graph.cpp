// Betweenness centrality (Brandes) over the entity graph, with a seeded
// source sampler so that large graphs are estimated from a bounded number of
// single-source passes.
//
// The sampler must reproduce one exact stream for a given seed:
//
//   key      := 8 words w[i], w[i] = pcg32_step(state), state starting at seed
//   pcg32_step(state): state = state * 6364136223846793005 + 11634580027462260723
//                      out   = rotr32(u32((state ^ (state >> 18)) >> 27), state >> 59)
//   block    := chacha12(constants, key, counter:u64 in words 12-13, nonce 0)
//   stream   := the 16 words of block 0, then of block 1, ...
//   below(m) := zone = (m << clz32(m)) - 1; draw v until lo32(v*m) <= zone; hi32(v*m)
//   shuffle  := for i = n-1 down to 1: swap(items[i], items[below(i + 1)])
#include "graph.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <numeric>
#include <string_view>

namespace zorlet_store::graph {

namespace {

constexpr uint64_t kPcgMultiplier = 6364136223846793005ULL;
constexpr uint64_t kPcgIncrement = 11634580027462260723ULL;
constexpr std::array<uint32_t, 4> kSigma = {0x61707865, 0x3320646e, 0x79622d32, 0x6b206574};  // "expand 32-byte k"
constexpr int kDoubleRounds = 6;

inline void quarter_round(uint32_t& a, uint32_t& b, uint32_t& c, uint32_t& d) {
  a += b, d ^= a, d = std::rotl(d, 16);
  c += d, b ^= c, b = std::rotl(b, 12);
  a += b, d ^= a, d = std::rotl(d, 8);
  c += d, b ^= c, b = std::rotl(b, 7);
}

}  // namespace

std::array<uint8_t, 32> ChaCha12::key_from_seed(uint64_t seed) {
  std::array<uint8_t, 32> key{};
  uint64_t state = seed;
  for (size_t word = 0; word < 8; ++word) {
    state = state * kPcgMultiplier + kPcgIncrement;
    auto xorshifted = static_cast<uint32_t>((state ^ (state >> 18)) >> 27);
    uint32_t out = std::rotr(xorshifted, static_cast<int>(state >> 59));
    for (size_t b = 0; b < 4; ++b) key[word * 4 + b] = static_cast<uint8_t>(out >> (8 * b));
  }
  return key;
}

ChaCha12::ChaCha12(uint64_t seed) {
  auto key = key_from_seed(seed);
  for (size_t i = 0; i < 8; ++i)
    key_[i] = uint32_t{key[4 * i]} | uint32_t{key[4 * i + 1]} << 8 | uint32_t{key[4 * i + 2]} << 16 |
              uint32_t{key[4 * i + 3]} << 24;
}

void ChaCha12::refill() {
  std::array<uint32_t, 16> input{};
  std::copy(kSigma.begin(), kSigma.end(), input.begin());
  std::copy(key_.begin(), key_.end(), input.begin() + 4);
  input[12] = static_cast<uint32_t>(counter_);
  input[13] = static_cast<uint32_t>(counter_ >> 32);
  // Words 14 and 15 are the nonce, always zero.
  std::array<uint32_t, 16> x = input;
  for (int r = 0; r < kDoubleRounds; ++r) {
    quarter_round(x[0], x[4], x[8], x[12]);
    quarter_round(x[1], x[5], x[9], x[13]);
    quarter_round(x[2], x[6], x[10], x[14]);
    quarter_round(x[3], x[7], x[11], x[15]);
    quarter_round(x[0], x[5], x[10], x[15]);
    quarter_round(x[1], x[6], x[11], x[12]);
    quarter_round(x[2], x[7], x[8], x[13]);
    quarter_round(x[3], x[4], x[9], x[14]);
  }
  for (size_t i = 0; i < 16; ++i) block_[i] = x[i] + input[i];
  ++counter_;
  index_ = 0;
}

uint32_t ChaCha12::next_u32() {
  if (index_ == 16) refill();
  return block_[index_++];
}

uint32_t ChaCha12::below(uint32_t m) {
  // Rejecting the low products above `zone` leaves every high word equally
  // likely; zone is the largest multiple of m (minus one) reachable cheaply.
  const uint32_t zone = (m << std::countl_zero(m)) - 1;
  for (;;) {
    uint64_t product = uint64_t{next_u32()} * m;
    if (static_cast<uint32_t>(product) <= zone) return static_cast<uint32_t>(product >> 32);
  }
}

void shuffle(std::vector<uint32_t>& items, ChaCha12& rng) {
  for (size_t i = items.size(); i > 1; --i) {
    size_t j = rng.below(static_cast<uint32_t>(i));
    std::swap(items[i - 1], items[j]);
  }
}

uint64_t source_count(uint64_t n, uint64_t edge_total, uint64_t sample_size, bool adaptive) {
  // Large graphs: about 1.5 million edge visits' worth of sources, never
  // fewer than 50.
  constexpr uint64_t kEdgeBudget = 1'500'000;
  constexpr uint64_t kMinSources = 50;
  constexpr uint64_t kAdaptiveAbove = 20'001;
  if (sample_size != 0 && adaptive && edge_total > kAdaptiveAbove) {
    uint64_t edges = edge_total / 2;
    uint64_t budget = edges > kEdgeBudget ? 0 : kEdgeBudget / edges;
    return std::min({budget + kMinSources, sample_size, n});
  }
  return sample_size != 0 ? std::min(sample_size, n) : n;
}

std::vector<uint32_t> pick_sources(uint32_t n, uint64_t k, uint64_t seed) {
  std::vector<uint32_t> nodes(n);
  std::iota(nodes.begin(), nodes.end(), 0u);
  if (k >= n) return nodes;
  ChaCha12 rng(seed);
  shuffle(nodes, rng);
  nodes.resize(static_cast<size_t>(k));
  return nodes;
}

namespace {

// The graph a run works on: node ids by number, and the neighbours of node v
// as targets[offsets[v] .. offsets[v+1]), sorted ascending.
struct WorkingGraph {
  std::vector<const std::string*> ids;
  std::vector<uint32_t> offsets;
  std::vector<uint32_t> targets;
  uint64_t edge_total = 0;  // sum of neighbour-set sizes
};

using NodeIndex = std::unordered_map<std::string_view, uint32_t>;

// Appends one node's row: the numbers of those neighbours that are nodes.
void append_row(WorkingGraph& g, const backend::StringSet& neighbours, const NodeIndex& index) {
  size_t row_start = g.targets.size();
  for (const auto& nb : neighbours)
    if (auto it = index.find(nb); it != index.end()) g.targets.push_back(it->second);
  std::sort(g.targets.begin() + static_cast<std::ptrdiff_t>(row_start), g.targets.end());
  g.offsets.push_back(static_cast<uint32_t>(g.targets.size()));
}

WorkingGraph whole_graph(const backend::AdjacencyMap& graph) {
  WorkingGraph g;
  std::vector<const backend::StringSet*> rows;
  NodeIndex index;
  index.reserve(graph.size());
  g.ids.reserve(graph.size());
  rows.reserve(graph.size());
  for (const auto& [id, neighbours] : graph) {
    index.emplace(id, static_cast<uint32_t>(g.ids.size()));
    g.ids.push_back(&id);
    rows.push_back(&neighbours);
    g.edge_total += neighbours.size();
  }
  g.offsets.reserve(g.ids.size() + 1);
  g.offsets.push_back(0);
  g.targets.reserve(g.edge_total);
  for (const auto* row : rows) append_row(g, *row, index);
  return g;
}

// The `max_nodes` best-connected nodes (stable by degree, largest first),
// each with its neighbours among them; a kept node left without neighbours
// leaves the graph.
WorkingGraph capped_graph(const backend::AdjacencyMap& graph, uint64_t max_nodes) {
  struct Ranked {
    const std::string* id;
    const backend::StringSet* neighbours;
  };
  std::vector<Ranked> ranked;
  ranked.reserve(graph.size());
  for (const auto& [id, neighbours] : graph) ranked.push_back({&id, &neighbours});
  std::stable_sort(ranked.begin(), ranked.end(),
                   [](const Ranked& a, const Ranked& b) { return a.neighbours->size() > b.neighbours->size(); });
  ranked.resize(static_cast<size_t>(max_nodes));

  NodeIndex kept;
  kept.reserve(ranked.size());
  for (size_t i = 0; i < ranked.size(); ++i) kept.emplace(*ranked[i].id, static_cast<uint32_t>(i));

  // Survivors are numbered in rank order, skipping the nodes that drop out.
  NodeIndex index;
  std::vector<const Ranked*> survivors;
  for (const auto& r : ranked) {
    bool linked = std::any_of(r.neighbours->begin(), r.neighbours->end(),
                              [&](const std::string& nb) { return kept.contains(nb); });
    if (!linked) continue;
    index.emplace(*r.id, static_cast<uint32_t>(survivors.size()));
    survivors.push_back(&r);
  }

  WorkingGraph g;
  g.offsets.push_back(0);
  for (const auto* r : survivors) {
    g.ids.push_back(r->id);
    append_row(g, *r->neighbours, index);
  }
  // The restricted neighbour sets are exactly the rows just built.
  g.edge_total = g.targets.size();
  return g;
}

// One single-source pass of Brandes' algorithm on integer node numbers. The
// per-node arrays are allocated once per run; each pass resets only the
// entries it touched.
//
// The forward search records the shortest-path DAG as it goes: the
// successors of the node at BFS position i (its neighbours one level deeper)
// are dag_[dag_start_[i] .. dag_start_[i+1]). Dependencies are then pulled
// rather than pushed: walking the BFS order backwards, node w sums over its
// successors x the share (1 + delta[x]) / sigma[x]. No predecessor lists are
// kept, the backward walk touches only DAG edges, and only the forward rows
// are read, whatever the symmetry of the graph.
class SingleSourcePass {
 public:
  explicit SingleSourcePass(const WorkingGraph& g)
      : offsets_(g.offsets.data()),
        targets_(g.targets.data()),
        dist_(g.ids.size(), -1),
        sigma_(g.ids.size(), 0.0),
        share_(g.ids.size(), 0.0),
        order_(g.ids.size()),
        dag_start_(g.ids.size() + 1),
        dag_(g.targets.size()) {}

  void run(uint32_t source, std::vector<double>& centrality) {
    size_t reached = explore(source);
    accumulate(reached, centrality);
    for (size_t i = 0; i < reached; ++i) {
      uint32_t v = order_[i];
      dist_[v] = -1;
      sigma_[v] = 0.0;
    }
  }

 private:
  // Breadth-first search counting shortest paths; returns the number of
  // nodes reached, which order_ holds in visiting order.
  size_t explore(uint32_t source) {
    int32_t* dist = dist_.data();
    double* sigma = sigma_.data();
    uint32_t* order = order_.data();
    uint32_t* dag = dag_.data();
    uint32_t* dag_start = dag_start_.data();
    dist[source] = 0;
    sigma[source] = 1.0;
    order[0] = source;
    size_t tail = 1;
    uint32_t dag_size = 0;
    for (size_t head = 0; head < tail; ++head) {
      uint32_t v = order[head];
      dag_start[head] = dag_size;
      int32_t next_level = dist[v] + 1;
      double paths = sigma[v];
      for (uint32_t e = offsets_[v], end = offsets_[v + 1]; e < end; ++e) {
        uint32_t w = targets_[e];
        if (dist[w] < 0) {
          dist[w] = next_level;
          order[tail++] = w;
        }
        if (dist[w] == next_level) {
          sigma[w] += paths;
          dag[dag_size++] = w;
        }
      }
    }
    dag_start[tail] = dag_size;
    return tail;
  }

  // order_[0] is the source: it is skipped, as its dependency is never
  // credited and nothing lies a level above it.
  void accumulate(size_t reached, std::vector<double>& centrality) {
    const double* sigma = sigma_.data();
    const uint32_t* dag = dag_.data();
    const uint32_t* dag_start = dag_start_.data();
    double* share = share_.data();
    double* cb = centrality.data();
    for (size_t i = reached; i-- > 1;) {
      uint32_t w = order_[i];
      double pulled = 0.0;
      for (uint32_t e = dag_start[i], end = dag_start[i + 1]; e < end; ++e) pulled += share[dag[e]];
      double delta = sigma[w] * pulled;
      share[w] = (1.0 + delta) / sigma[w];
      cb[w] += delta;
    }
  }

  const uint32_t* offsets_;
  const uint32_t* targets_;
  std::vector<int32_t> dist_;
  std::vector<double> sigma_;
  std::vector<double> share_;  // (1 + delta[x]) / sigma[x], final once x is passed
  std::vector<uint32_t> order_;
  std::vector<uint32_t> dag_start_;  // by BFS position
  std::vector<uint32_t> dag_;        // successor lists, concatenated in BFS order
};

std::unordered_map<std::string, double> zero_scores(const WorkingGraph& g) {
  std::unordered_map<std::string, double> scores;
  for (const auto* id : g.ids) scores.emplace(*id, 0.0);
  return scores;
}

}  // namespace

std::unordered_map<std::string, double> brandes_betweenness(const backend::AdjacencyMap& graph, uint64_t sample_size,
                                                            uint64_t seed, bool adaptive, uint64_t max_nodes) {
  if (graph.empty()) return {};
  WorkingGraph g =
      (max_nodes != 0 && graph.size() > max_nodes) ? capped_graph(graph, max_nodes) : whole_graph(graph);
  const uint64_t n = g.ids.size();
  if (n < 2) return zero_scores(g);

  const uint64_t k = source_count(n, g.edge_total, sample_size, adaptive);
  std::vector<double> centrality(n, 0.0);
  SingleSourcePass pass(g);
  for (uint32_t s : pick_sources(static_cast<uint32_t>(n), k, seed)) pass.run(s, centrality);

  const double per_source = 1.0 / static_cast<double>(std::max<uint64_t>(k, 1));
  const double pairs = static_cast<double>(std::max<uint64_t>((n - 1) * (n - 2), 1));
  std::unordered_map<std::string, double> scores;
  scores.reserve(n);
  for (size_t i = 0; i < n; ++i) {
    double score = centrality[i] * per_source * 2.0 / pairs;
    score = std::isfinite(score) ? std::clamp(score, 0.0, 1.0) : 0.0;
    scores.emplace(*g.ids[i], score);
  }
  return scores;
}

}  // namespace zorlet_store::graph
