// Betweenness centrality and its seeded sampler. (Being built.)
#include "graph.h"

namespace zorlet_store::graph {

ChaCha12::ChaCha12(uint64_t) {}
std::array<uint8_t, 32> ChaCha12::key_from_seed(uint64_t) { return {}; }
uint32_t ChaCha12::next_u32() { return 0; }
uint32_t ChaCha12::below(uint32_t) { return 0; }
void ChaCha12::refill() {}
void shuffle(std::vector<uint32_t>&, ChaCha12&) {}
std::unordered_map<std::string, double> brandes_betweenness(const backend::AdjacencyMap&, uint64_t, uint64_t, bool,
                                                            uint64_t) {
  return {};
}

}  // namespace zorlet_store::graph
