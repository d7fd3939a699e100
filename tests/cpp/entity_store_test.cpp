// The in-memory entity table: registration and merge rules, the token index,
// and the BM25 ranking of search.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "entity_store.h"

using zorlet_store::entity_store::EntityData;
using zorlet_store::entity_store::EntityStore;
using zorlet_store::entity_store::StringMap;

namespace {

using Ids = std::vector<std::string>;

Ids ids(const std::vector<const EntityData*>& records) {
  Ids out;
  for (const EntityData* e : records) out.push_back(e->id);
  return out;
}

EntityStore store_of(const std::vector<std::pair<std::string, std::string>>& id_and_name) {
  EntityStore s;
  for (const auto& [id, name] : id_and_name) s.upsert(id, "gene", name, std::nullopt, 1);
  return s;
}

}  // namespace

TEST(EntityStore, RegisteringAgainOnlyMergesExternalIds) {
  EntityStore s;
  s.upsert("e1", "gene", "First", StringMap{{"k", "old"}, {"j", "w"}}, 10);
  s.upsert("e1", "protein", "Second", StringMap{{"k", "new"}}, 20);
  s.upsert("e1", "drug", "Third", std::nullopt, 30);
  const EntityData* e = s.find("e1");
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(*e, (EntityData{"e1", "gene", "First", StringMap{{"j", "w"}, {"k", "new"}}, 10}));
  EXPECT_EQ(s.size(), 1u);
  EXPECT_EQ(ids(s.list("gene")), Ids{"e1"});
  EXPECT_TRUE(s.list("protein").empty());
  EXPECT_TRUE(s.search("second", 5).empty());
}

TEST(EntityStore, EmptyDisplayNameFallsBackToTheIdAndIsFoundByItsTokens) {
  EntityStore s;
  s.upsert("HGNC:BRCA1", "gene", "", std::nullopt, 0);
  EXPECT_EQ(s.find("HGNC:BRCA1")->display_name, "HGNC:BRCA1");
  EXPECT_EQ(ids(s.search("brca1", 5)), Ids{"HGNC:BRCA1"});
  EXPECT_EQ(s.postings("hgnc"), Ids{"HGNC:BRCA1"});
}

TEST(EntityStore, ATokenSharedByNameAndIdIsIndexedOnce) {
  EntityStore s;
  s.upsert("TNF", "gene", "TNF", std::nullopt, 0);
  EXPECT_EQ(s.postings("tnf"), Ids{"TNF"});
  s.upsert("x", "gene", "kinase kinase", std::nullopt, 0);
  EXPECT_EQ(s.postings("kinase"), Ids{"x"});
}

TEST(EntityStore, RenameKeepsOldTokensAndAddsNewOnesEvenWhenRepeated) {
  EntityStore s = store_of({{"e1", "alpha beta"}});
  EXPECT_FALSE(s.update_display_name("nobody", "x"));
  EXPECT_TRUE(s.update_display_name("e1", "gamma alpha gamma"));
  EXPECT_EQ(s.find("e1")->display_name, "gamma alpha gamma");
  EXPECT_EQ(ids(s.search("beta", 5)), Ids{"e1"});
  EXPECT_EQ(ids(s.search("gamma", 5)), Ids{"e1"});
  EXPECT_EQ(s.postings("gamma"), Ids{"e1"});
  EXPECT_EQ(s.postings("alpha"), (Ids{"e1", "e1"}));
  // An empty new name stays empty; there is no fallback to the id.
  EXPECT_TRUE(s.update_display_name("e1", ""));
  EXPECT_EQ(s.find("e1")->display_name, "");
}

TEST(EntityStore, ListCountAndSummary) {
  EntityStore s;
  s.upsert("g2", "gene", "", std::nullopt, 0);
  s.upsert("d1", "drug", "", std::nullopt, 0);
  s.upsert("g1", "gene", "", std::nullopt, 0);
  EXPECT_EQ(ids(s.list("gene")), (Ids{"g2", "g1"}));
  EXPECT_TRUE(s.list("cell").empty());
  EXPECT_EQ(s.list(std::nullopt).size(), 3u);
  EXPECT_EQ(s.count_by_type(), (std::map<std::string, uint64_t>{{"drug", 1}, {"gene", 2}}));
  EXPECT_FALSE(s.get_summary("nobody", 3).has_value());
  auto summary = s.get_summary("d1", 7);
  ASSERT_TRUE(summary.has_value());
  EXPECT_EQ(summary->name, "d1");
  EXPECT_EQ(summary->entity_type, "drug");
  EXPECT_EQ(summary->claim_count, 7u);
}

struct SearchCase {
  const char* name;
  std::vector<std::pair<std::string, std::string>> entities;  // (id, display name), registered in order
  std::string query;
  uint64_t top_k;
  Ids expected;
};

class Search : public ::testing::TestWithParam<SearchCase> {};

TEST_P(Search, RanksByBm25) {
  const auto& p = GetParam();
  EXPECT_EQ(ids(store_of(p.entities).search(p.query, p.top_k)), p.expected);
}

INSTANTIATE_TEST_SUITE_P(
    EntityStore, Search,
    ::testing::Values(
        SearchCase{"one_letter_query", {{"e1", "a b c"}}, "a", 5, {}},
        SearchCase{"punctuation_only_query", {{"e1", "kinase"}}, "-- !! ..", 5, {}},
        SearchCase{"no_entities", {}, "kinase", 5, {}},
        SearchCase{"top_k_zero", {{"e1", "kinase"}}, "kinase", 0, {}},
        SearchCase{"unknown_term", {{"e1", "kinase"}}, "phosphatase", 5, {}},
        SearchCase{"only_the_match", {{"e1", "kinase"}, {"e2", "phosphatase"}}, "KINASE", 5, {"e1"}},
        // Equal term frequency: the shorter document wins.
        SearchCase{"shorter_document_first",
                   {{"e1", "kinase domain containing protein"}, {"e2", "kinase"}},
                   "kinase",
                   1,
                   {"e2"}},
        // Equal lengths: the entity holding the rarer term wins on idf.
        SearchCase{"rare_term_outranks_frequent",
                   {{"e1", "common x1"}, {"e2", "common x2"}, {"e3", "rare x3"}},
                   "common rare",
                   5,
                   {"e3", "e1", "e2"}},
        // A repeated query term counts twice, tipping an otherwise equal pair.
        SearchCase{"repeated_query_term_aa", {{"e1", "aa"}, {"e2", "bb"}}, "aa aa bb", 2, {"e1", "e2"}},
        SearchCase{"repeated_query_term_bb", {{"e1", "aa"}, {"e2", "bb"}}, "bb bb aa", 2, {"e2", "e1"}},
        SearchCase{"more_terms_matched_first",
                   {{"e1", "tumor"}, {"e2", "tumor necrosis factor"}, {"e3", "factor"}},
                   "tumor necrosis factor",
                   3,
                   {"e2", "e1", "e3"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(EntityStore, RenamedDuplicatesRaiseTermFrequency) {
  // e1 and e2 start equal; renaming e2 to its own name again doubles its
  // "kinase" postings, which lifts it above e2 for that term.
  EntityStore s = store_of({{"e1", "kinase"}, {"e2", "kinase"}, {"e3", "other"}});
  ASSERT_EQ(ids(s.search("kinase", 1)), Ids{"e1"});  // tie keeps first-seen order
  ASSERT_TRUE(s.update_display_name("e2", "kinase"));
  EXPECT_EQ(s.postings("kinase"), (Ids{"e1", "e2", "e2"}));
  EXPECT_EQ(ids(s.search("kinase", 2)), (Ids{"e2", "e1"}));
}
