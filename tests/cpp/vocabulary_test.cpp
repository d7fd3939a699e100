// Predicate tables, composition and the metadata registry.
#include <string>
#include <string_view>

#include <gtest/gtest.h>

#include "metadata.h"
#include "zorlet_core/vocabulary.h"

namespace {

namespace vocab = zorlet_core::vocabulary;

TEST(ComposePredicates, RulesApplyInOrder) {
  struct Case {
    std::string_view first, second, result;
  };
  const Case cases[] = {
      {"activates", "inhibits", "inhibits"},
      {"inhibits", "inhibits", "activates"},
      {"prevents", "prevents", "causes"},
      {"inhibits", "upregulates", "downregulates"},
      {"downregulates", "downregulates", "upregulates"},
      {"causes", "inhibits", "inhibits"},
      {"prevents", "activates", "inhibits"},
      // Weak predicates win before the table.
      {"same_as", "activates", "associated_with"},
      {"activates", "expresses", "associated_with"},
      {"associated_with", "associated_with", "associated_with"},
      // A causal predicate composed with itself keeps its meaning.
      {"stabilizes", "stabilizes", "stabilizes"},
      {"promotes", "promotes", "promotes"},
      {"stabilizes", "activates", "associated_with"},
      // Not causal, not in the table.
      {"targets", "targets", "associated_with"},
      {"upregulates", "causes", "associated_with"},
      {"causes", "upregulates", "associated_with"},
      // Matching is case-sensitive.
      {"Activates", "activates", "associated_with"},
      {"", "", "associated_with"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(vocab::compose_predicates(c.first, c.second), c.result) << c.first << " then " << c.second;
}

TEST(ComposePredicates, TheSignTableHasTwentyFourEntries) {
  const std::string_view left[] = {"activates", "inhibits", "upregulates", "downregulates", "causes", "prevents"};
  const std::string_view right[] = {"activates", "inhibits", "upregulates", "downregulates", "causes", "prevents"};
  int entries = 0;
  for (auto a : left)
    for (auto b : right) entries += vocab::composition_entry(a, b).has_value();
  EXPECT_EQ(entries, 24);
}

TEST(PredicateTables, MembershipAndInverses) {
  EXPECT_TRUE(vocab::is_alias_predicate("same_as"));
  EXPECT_TRUE(vocab::is_alias_predicate("not_same_as"));
  EXPECT_FALSE(vocab::is_alias_predicate("Same_as"));
  EXPECT_TRUE(vocab::is_weak_predicate("expresses"));
  EXPECT_FALSE(vocab::is_weak_predicate("not_same_as"));
  EXPECT_TRUE(vocab::is_causal_predicate("demethylates"));
  EXPECT_FALSE(vocab::is_causal_predicate("targets"));

  EXPECT_EQ(vocab::inverse_predicate("caused_by"), "causes");
  EXPECT_EQ(vocab::inverse_predicate("causes"), "caused_by");
  EXPECT_EQ(vocab::inverse_predicate("destabilized_by"), "destabilizes");
  EXPECT_EQ(vocab::inverse_predicate("treats"), "treated_by");
  EXPECT_FALSE(vocab::inverse_predicate("regulates"));
  EXPECT_FALSE(vocab::inverse_predicate("Causes"));
}

TEST(MetadataStore, LaterRegistrationReplacesAndDocumentsAreCompactSorted) {
  zorlet_store::metadata::MetadataStore m;
  m.register_predicate("inhibits", zorlet_core::json::parse(R"({"b": 1})").value());
  m.register_predicate("inhibits", zorlet_core::json::parse(R"({ "z" : [1, 2], "a" : {"d": null, "c": true} })").value());
  EXPECT_EQ(m.predicate_constraints.size(), 1u);
  EXPECT_EQ(m.predicate_constraints.at("inhibits"), R"({"a":{"c":true,"d":null},"z":[1,2]})");

  m.register_vocabulary("", {{"gene", "gene"}, {}, {}});
  m.register_vocabulary("", {{"protein"}, {"causal"}, {}});
  EXPECT_EQ(m.vocabularies.at(""), (zorlet_store::metadata::Vocabulary{{"protein"}, {"causal"}, {}}));
}

}  // namespace
