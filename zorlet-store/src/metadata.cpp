#include "metadata.h"

namespace zorlet_store::metadata {

void MetadataStore::register_vocabulary(std::string ns, Vocabulary vocabulary) {
  vocabularies.insert_or_assign(std::move(ns), std::move(vocabulary));
}

void MetadataStore::register_predicate(std::string predicate_id, const zorlet_core::json::Json& constraints) {
  predicate_constraints.insert_or_assign(std::move(predicate_id), zorlet_core::json::to_text(constraints));
}

void MetadataStore::register_payload_schema(std::string schema_id, const zorlet_core::json::Json& schema) {
  payload_schemas.insert_or_assign(std::move(schema_id), zorlet_core::json::to_text(schema));
}

}  // namespace zorlet_store::metadata
