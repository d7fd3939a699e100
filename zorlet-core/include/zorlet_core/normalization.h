// Canonical form of entity ids as a caller asks for them, and search tokens.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zorlet_core::normalization {

// NFKD, removal of the fixed list of format characters, full lower-casing,
// white space collapsed to single spaces, ten Greek letters spelled out.
// Total: never fails; "" maps to "".
std::string normalize_entity_id(std::string_view text);

// Full lower-casing of the whole string (final sigma, dotted capital I).
std::string to_lower_full(std::string_view text);

}  // namespace zorlet_core::normalization
