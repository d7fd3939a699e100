// Identifier normalisation and tokenisation are total on arbitrary bytes,
// and tokens always meet their invariants.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "entity_store.h"
#include "zorlet_core/normalization.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  std::string normalized = zorlet_core::normalization::normalize_entity_id(text);
  if (!normalized.empty() && (normalized.front() == ' ' || normalized.back() == ' ')) std::abort();
  if (normalized.find("  ") != std::string::npos) std::abort();
  for (const std::string& token : zorlet_store::entity_store::tokenize(text)) {
    if (token.size() < 2) std::abort();
    for (char c : token)
      if (c >= 'A' && c <= 'Z') std::abort();
  }
  return 0;
}
