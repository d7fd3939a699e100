// The in-memory claim log: positions, the entity and adjacency indexes, and
// the time index's sorted fast path against its sorted-copy fallback.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "claim_log.h"

using zorlet_store::claim_log::ClaimLog;
using zorlet_store::claim_log::ClaimRefs;
using zorlet_core::types::Claim;

namespace {

Claim claim(std::string id, std::string subject, std::string object, int64_t ts = 0, std::string source = "s1",
            std::string predicate = "p") {
  Claim c;
  c.claim_id = std::move(id);
  c.content_id = "c-" + c.claim_id;
  c.subject.id = std::move(subject);
  c.object.id = std::move(object);
  c.predicate.id = std::move(predicate);
  c.predicate.predicate_type = "relation";
  c.provenance.source_id = std::move(source);
  c.provenance.source_type = "paper";
  c.timestamp = ts;
  return c;
}

std::vector<std::string> ids(const ClaimRefs& refs) {
  std::vector<std::string> out;
  for (const Claim* c : refs) out.push_back(c->claim_id);
  return out;
}

using Ids = std::vector<std::string>;

ClaimLog log_with_times(const std::vector<int64_t>& times) {
  ClaimLog log;
  for (std::size_t i = 0; i < times.size(); ++i) log.append(claim("c" + std::to_string(i), "a", "b", times[i]));
  return log;
}

}  // namespace

TEST(ClaimLog, SelfClaimIsListedOnceAndAddsNoAdjacency) {
  ClaimLog log;
  log.append(claim("x", "a", "a"));
  EXPECT_EQ(ids(log.for_entity("a")), Ids{"x"});
  EXPECT_EQ(log.entity_claim_count("a"), 1u);
  EXPECT_TRUE(log.adjacency().empty());
}

TEST(ClaimLog, AdjacencyLinksBothEndsAndIgnoresRepeats) {
  ClaimLog log;
  log.append(claim("x", "a", "b"));
  log.append(claim("y", "b", "a"));
  log.append(claim("z", "a", "c"));
  const auto adj = log.adjacency();
  ASSERT_EQ(adj.size(), 3u);
  EXPECT_EQ(adj.at("a"), (zorlet_store::claim_log::StringSet{"b", "c"}));
  EXPECT_EQ(adj.at("b"), (zorlet_store::claim_log::StringSet{"a"}));
  EXPECT_EQ(adj.at("c"), (zorlet_store::claim_log::StringSet{"a"}));
}

TEST(ClaimLog, DuplicateIdsAreBothStoredAndIdIndexPointsToTheLast) {
  ClaimLog log;
  log.append(claim("dup", "a", "b", 1, "first"));
  log.append(claim("dup", "a", "b", 2, "second"));
  EXPECT_EQ(log.size(), 2u);
  EXPECT_EQ(log.position_of("dup"), 1u);
  EXPECT_EQ(log.find("dup")->provenance.source_id, "second");
  EXPECT_EQ(ids(log.for_entity("a")), (Ids{"dup", "dup"}));
  EXPECT_FALSE(log.position_of("missing").has_value());
  EXPECT_EQ(log.find("missing"), nullptr);
}

TEST(ClaimLog, KeyedIndexesAnswerInAppendOrderAndUseKeysExactly) {
  ClaimLog log;
  log.append(claim("1", "A", "b", 0, "src", "p"));
  log.append(claim("2", "b", "c", 0, "other", "q"));
  log.append(claim("3", "c", "A", 0, "src", "p"));
  EXPECT_EQ(ids(log.by_source_id("src")), (Ids{"1", "3"}));
  EXPECT_EQ(ids(log.by_predicate_id("q")), Ids{"2"});
  EXPECT_EQ(ids(log.by_content_id("c-3")), Ids{"3"});
  EXPECT_EQ(ids(log.for_entity("A")), (Ids{"1", "3"}));
  EXPECT_TRUE(log.for_entity("a").empty());  // no normalisation
  EXPECT_TRUE(log.by_source_id("nope").empty());
}

TEST(ClaimLog, ForEntitiesReturnsAClaimBetweenMembersOnce) {
  ClaimLog log;
  log.append(claim("ab", "a", "b"));
  log.append(claim("ac", "a", "c"));
  log.append(claim("bd", "b", "d"));
  log.append(claim("ee", "e", "f"));
  ClaimRefs refs = log.for_entities({"a", "b", "zz"});
  Ids got = ids(refs);
  std::sort(got.begin(), got.end());
  EXPECT_EQ(got, (Ids{"ab", "ac", "bd"}));
  EXPECT_TRUE(log.for_entities({}).empty());
}

TEST(ClaimLog, ForEntitiesKeepsAppendOrderWithinEachEntity) {
  ClaimLog log;
  for (int i = 0; i < 5; ++i) log.append(claim("a" + std::to_string(i), "a", "x" + std::to_string(i)));
  for (int i = 0; i < 5; ++i) log.append(claim("b" + std::to_string(i), "y" + std::to_string(i), "b"));
  Ids got = ids(log.for_entities({"a", "b"}));
  ASSERT_EQ(got.size(), 10u);
  // Grouped by entity: the first five share a prefix, in append order.
  const char first = got[0][0];
  for (int i = 0; i < 5; ++i) EXPECT_EQ(got[i], std::string(1, first) + std::to_string(i));
}

TEST(ClaimLog, TimestampsSortedFlagClearsForGood) {
  ClaimLog log;
  EXPECT_TRUE(log.timestamps_sorted());
  for (int64_t t : {5, 7, 7}) log.append(claim("t" + std::to_string(t), "a", "b", t));
  EXPECT_TRUE(log.timestamps_sorted());
  log.append(claim("late", "a", "b", 6));
  EXPECT_FALSE(log.timestamps_sorted());
  log.append(claim("big", "a", "b", 100));
  EXPECT_FALSE(log.timestamps_sorted());
}

struct RecentCase {
  const char* name;
  std::vector<int64_t> times;  // claim i has id "c<i>"
  uint64_t n;
  Ids expected;
};

class MostRecent : public ::testing::TestWithParam<RecentCase> {};

TEST_P(MostRecent, TakesGreatestTimestampsLaterAppendedFirst) {
  const auto& p = GetParam();
  EXPECT_EQ(ids(log_with_times(p.times).most_recent(p.n)), p.expected);
}

INSTANTIATE_TEST_SUITE_P(
    ClaimLog, MostRecent,
    ::testing::Values(RecentCase{"ties_later_first", {5, 9, 9}, 2, {"c2", "c1"}},
                      RecentCase{"unsorted_uses_copy", {30, 10, 20}, 2, {"c0", "c2"}},
                      RecentCase{"unsorted_ties_later_first", {9, 1, 9, 5, 9}, 4, {"c4", "c2", "c0", "c3"}},
                      RecentCase{"more_than_held", {3, 1}, 10, {"c0", "c1"}},
                      RecentCase{"zero", {1, 2}, 0, {}},
                      RecentCase{"negative_before_positive", {-5, 2, -1}, 3, {"c1", "c2", "c0"}},
                      RecentCase{"empty_log", {}, 3, {}}),
    [](const auto& info) { return std::string(info.param.name); });

struct RangeCase {
  const char* name;
  std::vector<int64_t> times;
  int64_t min_ts;
  int64_t max_ts;
  Ids expected;
};

class InTimeRange : public ::testing::TestWithParam<RangeCase> {};

TEST_P(InTimeRange, InclusiveBoundsOldestFirstTiesInAppendOrder) {
  const auto& p = GetParam();
  EXPECT_EQ(ids(log_with_times(p.times).in_time_range(p.min_ts, p.max_ts)), p.expected);
}

INSTANTIATE_TEST_SUITE_P(
    ClaimLog, InTimeRange,
    ::testing::Values(RangeCase{"exact_point", {4, 5, 5, 6}, 5, 5, {"c1", "c2"}},
                      RangeCase{"inverted_bounds", {4, 5, 6}, 6, 5, {}},
                      RangeCase{"sorted_span", {1, 2, 3, 4}, 2, 3, {"c1", "c2"}},
                      RangeCase{"unsorted_span_ties_in_append_order", {7, 3, 5, 3, 9, 5}, 3, 5,
                                {"c1", "c3", "c2", "c5"}},
                      RangeCase{"negative_timestamps", {-10, 0, -3, 10}, -5, 0, {"c2", "c1"}},
                      RangeCase{"full_int64_span",
                                {INT64_MIN, 0, INT64_MAX},
                                INT64_MIN,
                                INT64_MAX,
                                {"c0", "c1", "c2"}},
                      RangeCase{"nothing_inside", {1, 10}, 2, 9, {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ClaimLog, UnsortedQueriesLeaveTheIndexUntouched) {
  ClaimLog log = log_with_times({3, 1, 2});
  EXPECT_EQ(ids(log.in_time_range(0, 10)), (Ids{"c1", "c2", "c0"}));
  log.append(claim("c3", "a", "b", 0));
  // A query sorts a copy; appends after it still land at the end of the index.
  EXPECT_EQ(ids(log.in_time_range(0, 10)), (Ids{"c3", "c1", "c2", "c0"}));
  EXPECT_EQ(ids(log.most_recent(1)), Ids{"c0"});
}

TEST(ClaimLog, CountsCoverEveryClaim) {
  ClaimLog log;
  EXPECT_TRUE(log.count_by_source_type().empty());
  EXPECT_TRUE(log.count_by_predicate_type().empty());
  Claim a = claim("1", "a", "b");
  Claim b = claim("2", "a", "b");
  b.provenance.source_type = "db";
  b.predicate.predicate_type = "causal";
  log.append(a);
  log.append(b);
  log.append(claim("3", "x", "y"));
  EXPECT_EQ(log.count_by_source_type(), (std::map<std::string, uint64_t>{{"db", 1}, {"paper", 2}}));
  EXPECT_EQ(log.count_by_predicate_type(), (std::map<std::string, uint64_t>{{"causal", 1}, {"relation", 2}}));
}
