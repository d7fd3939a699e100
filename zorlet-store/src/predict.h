// Two-hop causal composition prediction over any backend.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "backend.h"

namespace zorlet_store::predict {

using CompositionMap = std::map<std::pair<std::string, std::string>, std::string>;
using OppositesMap = std::map<std::string, std::string>;

struct Prediction {
  std::string target_id;
  std::string predicate;
  uint64_t supporting = 0;
  uint64_t opposing = 0;
  bool is_gap = false;
  uint64_t intermediaries = 0;
};

std::vector<Prediction> predict_causal(backend::StorageBackend& backend, const std::string& entity_id,
                                       const backend::StringSet& causal_predicates, const CompositionMap& composition,
                                       const OppositesMap& opposites, uint64_t max_intermediaries, uint64_t min_paths,
                                       uint64_t hub_max_claims);

}  // namespace zorlet_store::predict
