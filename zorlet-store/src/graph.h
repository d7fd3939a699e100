// Whole-graph analytics: Brandes betweenness centrality over the undirected
// entity graph, and the seeded source sampler it uses.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "backend.h"

namespace zorlet_store::graph {

// ChaCha with 12 rounds, 64-bit block counter in words 12-13, nonce 0, keyed
// from a 64-bit seed by the PCG32-based expansion.
class ChaCha12 {
 public:
  explicit ChaCha12(uint64_t seed);
  static std::array<uint8_t, 32> key_from_seed(uint64_t seed);
  uint32_t next_u32();
  // Uniform draw from 0..m-1 by widening multiplication with rejection; m > 0.
  uint32_t below(uint32_t m);

 private:
  void refill();
  std::array<uint32_t, 8> key_{};
  uint64_t counter_ = 0;
  std::array<uint32_t, 16> block_{};
  unsigned index_ = 16;
};

// Fisher-Yates from the last position down.
void shuffle(std::vector<uint32_t>& items, ChaCha12& rng);

// How many source nodes a run uses on a graph of `n` nodes whose neighbour
// sets hold `edge_total` entries together (each undirected edge counted twice).
uint64_t source_count(uint64_t n, uint64_t edge_total, uint64_t sample_size, bool adaptive);

// The source node numbers for `k` of `n` nodes: every node in order when
// k >= n, else the first k of a seeded shuffle of 0..n-1.
std::vector<uint32_t> pick_sources(uint32_t n, uint64_t k, uint64_t seed);

std::unordered_map<std::string, double> brandes_betweenness(const backend::AdjacencyMap& graph, uint64_t sample_size,
                                                            uint64_t seed, bool adaptive, uint64_t max_nodes);

}  // namespace zorlet_store::graph
