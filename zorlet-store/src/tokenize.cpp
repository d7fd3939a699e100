// Placeholder: ASCII-only tokens until the Unicode implementation lands.
#include <cctype>

#include "entity_store.h"
#include "zorlet_core/normalization.h"

namespace zorlet_store::entity_store {

std::vector<std::string> tokenize(std::string_view text) {
  std::string lower = zorlet_core::normalization::to_lower_full(text);
  std::vector<std::string> out;
  std::string cur;
  for (char c : lower) {
    if (std::isalnum(static_cast<unsigned char>(c)) || static_cast<unsigned char>(c) >= 0x80) {
      cur.push_back(c);
    } else {
      if (cur.size() >= 2) out.push_back(cur);
      cur.clear();
    }
  }
  if (cur.size() >= 2) out.push_back(cur);
  return out;
}

}  // namespace zorlet_store::entity_store
