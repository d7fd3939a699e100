// Search tokens, and the entity table of the in-memory backend.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zorlet_store::entity_store {

// Lower-cases the whole text, splits at every character that is neither
// Alphabetic nor a number (Nd, Nl, No), keeps pieces of at least 2 bytes, in
// order, duplicates included.
std::vector<std::string> tokenize(std::string_view text);

}  // namespace zorlet_store::entity_store
