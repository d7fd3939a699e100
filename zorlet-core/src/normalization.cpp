// Placeholder: ASCII-only folding until the Unicode implementation lands.
#include "zorlet_core/normalization.h"

#include <cctype>

namespace zorlet_core::normalization {

std::string to_lower_full(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::string normalize_entity_id(std::string_view text) {
  std::string lower = to_lower_full(text), out;
  bool pending_space = false;
  for (char c : lower) {
    if (std::isspace(static_cast<unsigned char>(c))) {
      pending_space = !out.empty();
      continue;
    }
    if (pending_space) out.push_back(' ');
    pending_space = false;
    out.push_back(c);
  }
  return out;
}

}  // namespace zorlet_core::normalization
