// The built-in predicate tables and predicate composition. Matching is exact,
// case-sensitive byte comparison.
#pragma once

#include <optional>
#include <string_view>

namespace zorlet_core::vocabulary {

bool is_alias_predicate(std::string_view predicate);   // ALIAS_PREDICATES (2)
bool is_weak_predicate(std::string_view predicate);    // WEAK_PREDICATES (11)
bool is_causal_predicate(std::string_view predicate);  // CAUSAL_PREDICATES (21)
// INVERSE_PREDICATES, held in both directions.
std::optional<std::string_view> inverse_predicate(std::string_view predicate);
// PREDICATE_COMPOSITION (24 entries).
std::optional<std::string_view> composition_entry(std::string_view first, std::string_view second);
// Always one of the table strings; never fails.
std::string_view compose_predicates(std::string_view first, std::string_view second);

}  // namespace zorlet_core::vocabulary
