#include "zorlet_core/errors.h"

namespace zorlet_core::errors {

ZorletError ZorletError::provenance(std::string_view context, std::string_view detail) {
  std::string text;
  text.reserve(context.size() + 2 + detail.size());
  text.append(context).append(": ").append(detail);
  return {ErrorKind::Provenance, std::move(text)};
}

std::string ZorletError::display() const {
  static constexpr std::string_view kPrefix[] = {
      "ProvenanceError: ",         "VocabularyError: ",        "SchemaValidationError: ",
      "PredicateConstraintError: ", "DuplicateClaimError: ",    "CircularProvenanceError: ",
      "DimensionalityError: ",      "EntityNotFoundError: ",    "ReadOnlyError: ",
      "ValidationError: ",
  };
  if (kind_ == ErrorKind::ReadOnly) return "ReadOnlyError: store is read-only";
  std::string text(kPrefix[static_cast<int>(kind_)]);
  text += payload_;
  return text;
}

}  // namespace zorlet_core::errors
