// Two-hop causal composition prediction. (Being built.)
#include "predict.h"

namespace zorlet_store::predict {

std::vector<Prediction> predict_causal(backend::StorageBackend&, const std::string&, const backend::StringSet&,
                                       const CompositionMap&, const OppositesMap&, uint64_t, uint64_t, uint64_t) {
  return {};
}

}  // namespace zorlet_store::predict
