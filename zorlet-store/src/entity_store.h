// Search tokens, and the entity table of the in-memory backend.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "zorlet_core/types.h"

namespace zorlet_store::entity_store {

// Lower-cases the whole text, splits at every character that is neither
// Alphabetic nor a number (Nd, Nl, No), keeps pieces of at least 2 bytes, in
// order, duplicates included.
std::vector<std::string> tokenize(std::string_view text);

// tokenize(text).size(), without building the tokens (search ranks every
// candidate by its token count).
size_t count_tokens(std::string_view text);

using zorlet_core::types::EntityData;
using zorlet_core::types::EntitySummary;
using zorlet_core::types::StringMap;

// The entity table of the in-memory store, with ranked text search.
//
// Entities are never removed; a record's type and creation time never change
// after its first registration. The token index only grows: a rename adds the
// new name's tokens and keeps the old ones, so an id can be listed more than
// once under a token, and search counts every such posting.
class EntityStore {
 public:
  // Registers a new id, or merges `external_ids` into an existing record
  // (nothing else of an existing record changes).
  void upsert(std::string_view id, std::string_view entity_type, std::string_view display_name,
              const std::optional<StringMap>& external_ids, int64_t timestamp);
  // False when the id is not registered. The new name is taken as given (an
  // empty name stays empty) and its tokens are added to the index.
  bool update_display_name(std::string_view id, std::string_view new_display);

  const EntityData* find(std::string_view id) const;
  std::size_t size() const { return records_.size(); }
  // Without a type: every record, in registration order. With one: that
  // type's records in registration order; empty for an unknown type.
  std::vector<const EntityData*> list(const std::optional<std::string>& entity_type) const;
  std::map<std::string, uint64_t> count_by_type() const;
  std::optional<EntitySummary> get_summary(std::string_view id, uint64_t claim_count) const;
  // Okapi BM25 over the token index (k1 = 1.2, b = 0.75), best first.
  std::vector<const EntityData*> search(std::string_view query, uint64_t top_k) const;

  // The ids listed under a token, in indexing order, repeats included.
  std::vector<std::string> postings(std::string_view token) const;

 private:
  using Ordinal = uint32_t;  // registration order; records are never removed

  void index_tokens(Ordinal entity, const std::vector<std::string>& tokens);

  std::vector<EntityData> records_;
  std::unordered_map<std::string, Ordinal> ordinal_;
  std::unordered_map<std::string, std::vector<Ordinal>> type_index_;
  std::unordered_map<std::string, std::vector<Ordinal>> text_index_;
};

}  // namespace zorlet_store::entity_store
