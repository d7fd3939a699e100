// The registry of vocabularies, predicate constraints and payload schemas.
// Stored and handed back on request; claims are never checked against it.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "zorlet_core/json.h"

namespace zorlet_store::metadata {

struct Vocabulary {
  std::vector<std::string> entity_types;
  std::vector<std::string> predicate_types;
  std::vector<std::string> source_types;
  bool operator==(const Vocabulary&) const = default;
};

class MetadataStore {
 public:
  void register_vocabulary(std::string ns, Vocabulary vocabulary);
  // Documents are kept as compact JSON text with sorted keys.
  void register_predicate(std::string predicate_id, const zorlet_core::json::Json& constraints);
  void register_payload_schema(std::string schema_id, const zorlet_core::json::Json& schema);

  // The three maps, in their stored order.
  std::map<std::string, Vocabulary> vocabularies;
  std::map<std::string, std::string> predicate_constraints;
  std::map<std::string, std::string> payload_schemas;
};

}  // namespace zorlet_store::metadata
