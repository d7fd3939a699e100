// Alias groups: the exact parent, rank and group tables after each operation,
// because the tables are persisted and must resolve identically after reopen.
#include <gtest/gtest.h>

#include "union_find.h"

namespace {

using zorlet_store::union_find::StringSet;
using zorlet_store::union_find::UnionFind;
using Parents = std::unordered_map<std::string, std::string>;
using Ranks = std::unordered_map<std::string, uint64_t>;
using Groups = std::unordered_map<std::string, StringSet>;

void expect_tables(const UnionFind& uf, const Parents& parent, const Ranks& rank, const Groups& groups) {
  EXPECT_EQ(uf.parent, parent);
  EXPECT_EQ(uf.rank, rank);
  EXPECT_EQ(uf.groups, groups);
}

TEST(UnionFind, UnseenIdIsItsOwnRootAndNothingIsInserted) {
  UnionFind uf;
  uf.unite("x", "y");
  EXPECT_EQ(uf.find("a"), "a");
  EXPECT_EQ(uf.find_readonly("a"), "a");
  EXPECT_EQ(uf.get_group("a"), StringSet{"a"});
  EXPECT_EQ(uf.get_group_readonly("a"), StringSet{"a"});
  expect_tables(uf, {{"x", "y"}}, {{"y", 1}}, {{"y", {"x", "y"}}});
}

TEST(UnionFind, EqualRanksMakeTheSecondArgumentsRootWin) {
  UnionFind uf;
  uf.unite("a", "b");
  expect_tables(uf, {{"a", "b"}}, {{"b", 1}}, {{"b", {"a", "b"}}});

  uf.unite("c", "b");  // b has rank 1, c rank 0: b stays root with rank 1
  expect_tables(uf, {{"a", "b"}, {"c", "b"}}, {{"b", 1}}, {{"b", {"a", "b", "c"}}});

  uf.unite("a", "c");  // already one group: nothing changes
  expect_tables(uf, {{"a", "b"}, {"c", "b"}}, {{"b", 1}}, {{"b", {"a", "b", "c"}}});
}

TEST(UnionFind, HigherRankWinsWhicheverSideItIsOn) {
  UnionFind uf;
  uf.unite("a", "b");
  uf.unite("b", "z");  // b (rank 1) beats z (rank 0) though z is second
  expect_tables(uf, {{"a", "b"}, {"z", "b"}}, {{"b", 1}}, {{"b", {"a", "b", "z"}}});
}

TEST(UnionFind, MergingTwoGroupsOfEqualRankAndPathCompression) {
  UnionFind uf;
  uf.unite("a", "b");
  uf.unite("c", "d");
  uf.unite("a", "c");
  // The child root b keeps its own rank entry.
  expect_tables(uf, {{"a", "b"}, {"c", "d"}, {"b", "d"}}, {{"b", 1}, {"d", 2}}, {{"d", {"a", "b", "c", "d"}}});

  EXPECT_EQ(uf.find_readonly("a"), "d");
  EXPECT_EQ(uf.parent.at("a"), "b");  // the read-only walk changes nothing
  EXPECT_EQ(uf.get_group_readonly("a"), (StringSet{"a", "b", "c", "d"}));
  EXPECT_EQ(uf.parent.at("a"), "b");

  EXPECT_EQ(uf.find("a"), "d");
  EXPECT_EQ(uf.parent.at("a"), "d");
  EXPECT_EQ(uf.get_group("c"), (StringSet{"a", "b", "c", "d"}));
}

TEST(UnionFind, FindCompressesEveryIdOnTheWalk) {
  UnionFind uf;
  uf.parent = {{"a", "b"}, {"b", "c"}, {"c", "d"}, {"x", "c"}};
  EXPECT_EQ(uf.find("a"), "d");
  EXPECT_EQ(uf.parent, (Parents{{"a", "d"}, {"b", "d"}, {"c", "d"}, {"x", "c"}}));
  // A self-entry ends the walk like a missing one.
  uf.parent = {{"a", "b"}, {"b", "b"}};
  EXPECT_EQ(uf.find("a"), "b");
  EXPECT_EQ(uf.find_readonly("a"), "b");
}

TEST(UnionFind, SplitOfAMemberLeavesTheRestTogether) {
  UnionFind uf;
  uf.unite("a", "b");
  uf.split("a");
  expect_tables(uf, {}, {{"b", 1}}, {{"b", {"b"}}});
  EXPECT_EQ(uf.find("a"), "a");
  EXPECT_EQ(uf.get_group("a"), StringSet{"a"});

  // A member in the middle of a chain: its children are re-hung on the root.
  UnionFind chain;
  chain.parent = {{"a", "b"}, {"b", "d"}, {"c", "d"}};
  chain.rank = {{"b", 1}, {"d", 2}};
  chain.groups = {{"d", {"a", "b", "c", "d"}}};
  chain.split("b");
  expect_tables(chain, {{"a", "d"}, {"c", "d"}}, {{"d", 2}}, {{"d", {"a", "c", "d"}}});
  EXPECT_EQ(chain.find("b"), "b");
}

TEST(UnionFind, SplitOfARootPromotesADirectChild) {
  UnionFind uf;
  uf.unite("a", "b");
  uf.split("b");
  expect_tables(uf, {}, {{"a", 1}}, {{"a", {"a"}}});

  UnionFind three;
  three.unite("a", "b");
  three.unite("c", "b");
  three.split("b");
  ASSERT_EQ(three.parent.size(), 1u);
  const std::string new_root = three.parent.begin()->second;
  const std::string other = three.parent.begin()->first;
  EXPECT_TRUE((new_root == "a" && other == "c") || (new_root == "c" && other == "a"));
  expect_tables(three, {{other, new_root}}, {{new_root, 1}}, {{new_root, {"a", "c"}}});
  EXPECT_EQ(three.find("a"), three.find("c"));
  EXPECT_EQ(three.find("b"), "b");
  EXPECT_EQ(three.get_group("b"), StringSet{"b"});
}

TEST(UnionFind, SplitOfAnIdInNoGroupChangesNothing) {
  UnionFind uf;
  uf.unite("a", "b");
  uf.split("q");
  expect_tables(uf, {{"a", "b"}}, {{"b", 1}}, {{"b", {"a", "b"}}});
}

}  // namespace
