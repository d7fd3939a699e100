#include "zorlet_core/vocabulary.h"

#include <algorithm>
#include <array>
#include <utility>

namespace zorlet_core::vocabulary {

namespace {

using std::string_view;

template <size_t N>
bool contains(const std::array<string_view, N>& table, string_view predicate) {
  return std::find(table.begin(), table.end(), predicate) != table.end();
}

constexpr std::array<string_view, 2> kAlias = {"same_as", "not_same_as"};

constexpr std::array<string_view, 11> kWeak = {
    "associated_with", "relates_to", "resembles",  "interacts_with",  "interacts",  "coexpressed_with",
    "same_as",         "associates", "participates_in", "investigated_in", "expresses",
};

constexpr std::array<string_view, 21> kCausal = {
    "activates", "inhibits",   "upregulates",  "downregulates",  "promotes",       "suppresses", "increases",
    "decreases", "causes",     "prevents",     "enables",        "blocks",         "enhances",   "reduces",
    "regulates", "stabilizes", "destabilizes", "phosphorylates", "dephosphorylates", "methylates", "demethylates",
};

constexpr std::array<std::pair<string_view, string_view>, 19> kInverse = {{
    {"causes", "caused_by"},
    {"activates", "activated_by"},
    {"inhibits", "inhibited_by"},
    {"upregulates", "upregulated_by"},
    {"downregulates", "downregulated_by"},
    {"promotes", "promoted_by"},
    {"suppresses", "suppressed_by"},
    {"targets", "targeted_by"},
    {"treats", "treated_by"},
    {"phosphorylates", "phosphorylated_by"},
    {"dephosphorylates", "dephosphorylated_by"},
    {"methylates", "methylated_by"},
    {"demethylates", "demethylated_by"},
    {"encodes", "encoded_by"},
    {"induces", "induced_by"},
    {"modulates", "modulated_by"},
    {"mediates", "mediated_by"},
    {"stabilizes", "stabilized_by"},
    {"destabilizes", "destabilized_by"},
}};

struct Composition {
  string_view first, second, result;
};

constexpr std::array<Composition, 24> kComposition = {{
    {"activates", "activates", "activates"},
    {"activates", "inhibits", "inhibits"},
    {"activates", "upregulates", "upregulates"},
    {"activates", "downregulates", "downregulates"},
    {"inhibits", "activates", "inhibits"},
    {"inhibits", "inhibits", "activates"},
    {"inhibits", "upregulates", "downregulates"},
    {"inhibits", "downregulates", "upregulates"},
    {"upregulates", "activates", "upregulates"},
    {"upregulates", "inhibits", "downregulates"},
    {"upregulates", "upregulates", "upregulates"},
    {"upregulates", "downregulates", "downregulates"},
    {"downregulates", "activates", "downregulates"},
    {"downregulates", "inhibits", "upregulates"},
    {"downregulates", "upregulates", "downregulates"},
    {"downregulates", "downregulates", "upregulates"},
    {"causes", "activates", "activates"},
    {"causes", "inhibits", "inhibits"},
    {"causes", "causes", "causes"},
    {"causes", "prevents", "prevents"},
    {"prevents", "activates", "inhibits"},
    {"prevents", "inhibits", "activates"},
    {"prevents", "causes", "prevents"},
    {"prevents", "prevents", "causes"},
}};

}  // namespace

bool is_alias_predicate(string_view p) { return contains(kAlias, p); }
bool is_weak_predicate(string_view p) { return contains(kWeak, p); }
bool is_causal_predicate(string_view p) { return contains(kCausal, p); }

std::optional<string_view> inverse_predicate(string_view p) {
  for (const auto& [a, b] : kInverse) {
    if (a == p) return b;
    if (b == p) return a;
  }
  return std::nullopt;
}

std::optional<string_view> composition_entry(string_view first, string_view second) {
  for (const auto& c : kComposition)
    if (c.first == first && c.second == second) return c.result;
  return std::nullopt;
}

string_view compose_predicates(string_view first, string_view second) {
  if (is_weak_predicate(first) || is_weak_predicate(second)) return "associated_with";
  if (auto entry = composition_entry(first, second)) return *entry;
  if (first == second) {
    for (string_view c : kCausal)
      if (c == first) return c;
  }
  return "associated_with";
}

}  // namespace zorlet_core::vocabulary
