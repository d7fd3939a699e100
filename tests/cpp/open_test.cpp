// Opening the persistent store: schema version, next_seq recovery, meta
// blobs, tombstones, and the process-wide environment registry.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "backend/lmdb/lmdb_backend.h"
#include "zorlet_core/log.h"

namespace fs = std::filesystem;
using namespace zorlet_store::backend::lmdb;

namespace {

std::vector<std::string> g_lines;
void capture(zorlet_core::log::Level, std::string_view target, std::string_view message) {
  g_lines.push_back(std::string(target) + "|" + std::string(message));
}

class OpenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("zorlet_open_" + std::to_string(::getpid()) + "_" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Writes raw entries with a backend's own handles, then closes it.
  void poke(const std::function<void(Txn&, const Dbs&)>& write) {
    auto b = LmdbBackend::open(dir_.string());
    ASSERT_TRUE(b.has_value()) << b.error().display();
    Txn txn;
    ASSERT_EQ(Txn::begin((*b)->env(), true, txn), MDB_SUCCESS);
    write(txn, (*b)->dbs());
    ASSERT_EQ(txn.commit(), MDB_SUCCESS);
    ASSERT_TRUE((*b)->close().has_value());
  }

  fs::path dir_;
};

TEST_F(OpenTest, FreshDirectoryGetsVersionFourAndNoNextSeqKey) {
  auto b = LmdbBackend::open((dir_ / "x" / "y").string());
  ASSERT_TRUE(b.has_value()) << b.error().display();
  EXPECT_EQ((*b)->schema_version(), 4u);
  EXPECT_EQ((*b)->next_seq(), 0u);
  Txn txn;
  ASSERT_EQ(Txn::begin((*b)->env(), false, txn), MDB_SUCCESS);
  std::string_view v;
  EXPECT_EQ(txn.get((*b)->dbs().meta_blobs, "next_seq", v), MDB_NOTFOUND);
}

TEST_F(OpenTest, NextSeqIsNeverBehindTheClaimsTable) {
  // A stored next_seq of 3 but claims up to key 9: numbering continues at 10.
  poke([](Txn& txn, const Dbs& d) {
    auto next = codec::encode_u64_le(3);
    ASSERT_EQ(txn.put(d.meta_blobs, "next_seq", {next.data(), 8}), MDB_SUCCESS);
    auto key = codec::seq_key(9);
    ASSERT_EQ(txn.put(d.claims, codec::view(key), "x"), MDB_SUCCESS);
  });
  auto b = LmdbBackend::open(dir_.string());
  ASSERT_TRUE(b.has_value());
  EXPECT_EQ((*b)->next_seq(), 10u);
}

TEST_F(OpenTest, StoredNextSeqAheadOfClaimsWins) {
  poke([](Txn& txn, const Dbs& d) {
    auto next = codec::encode_u64_le(42);
    ASSERT_EQ(txn.put(d.meta_blobs, "next_seq", {next.data(), 8}), MDB_SUCCESS);
  });
  auto b = LmdbBackend::open(dir_.string());
  ASSERT_TRUE(b.has_value());
  EXPECT_EQ((*b)->next_seq(), 42u);
}

TEST_F(OpenTest, NewerSchemaVersionStaysAndMissingOneReadsTwoWhenReadOnly) {
  poke([](Txn& txn, const Dbs& d) {
    auto five = codec::encode_u32_le(5);
    ASSERT_EQ(txn.put(d.meta_blobs, "schema_version", {five.data(), 4}), MDB_SUCCESS);
  });
  {
    auto b = LmdbBackend::open(dir_.string());
    ASSERT_TRUE(b.has_value());
    EXPECT_EQ((*b)->schema_version(), 5u);
    ASSERT_TRUE((*b)->close().has_value());
  }
  poke([](Txn& txn, const Dbs& d) { ASSERT_EQ(txn.del(d.meta_blobs, "schema_version"), MDB_SUCCESS); });
  auto ro = LmdbBackend::open_read_only(dir_.string());
  ASSERT_TRUE(ro.has_value()) << ro.error().display();
  EXPECT_EQ((*ro)->schema_version(), 2u);
}

TEST_F(OpenTest, GarbageAliasBlobWarnsAndStartsEmpty) {
  poke([](Txn& txn, const Dbs& d) { ASSERT_EQ(txn.put(d.meta_blobs, "aliases", "\xff\x01garbage"), MDB_SUCCESS); });
  g_lines.clear();
  zorlet_core::log::set_sink(capture);
  auto b = LmdbBackend::open(dir_.string());
  zorlet_core::log::set_sink(nullptr);
  ASSERT_TRUE(b.has_value());
  EXPECT_TRUE((*b)->aliases().parent.empty());
  ASSERT_EQ(g_lines.size(), 1u);
  EXPECT_EQ(g_lines[0].rfind("zorlet_store::backend::lmdb|Failed to deserialize aliases: ", 0), 0u) << g_lines[0];
}

TEST_F(OpenTest, TombstonesAreLoadedFromStatusBytes) {
  poke([](Txn& txn, const Dbs& d) {
    ASSERT_EQ(txn.put(d.status_overrides, "t", std::string_view("\x02", 1)), MDB_SUCCESS);
    ASSERT_EQ(txn.put(d.status_overrides, "a", std::string_view("\x00", 1)), MDB_SUCCESS);
    ASSERT_EQ(txn.put(d.status_overrides, "r", std::string_view("\x01", 1)), MDB_SUCCESS);
    ASSERT_EQ(txn.put(d.status_overrides, "p", std::string_view("\x03", 1)), MDB_SUCCESS);
    ASSERT_EQ(txn.put(d.status_overrides, "e", std::string_view()), MDB_SUCCESS);
  });
  auto b = LmdbBackend::open(dir_.string());
  ASSERT_TRUE(b.has_value());
  EXPECT_EQ((*b)->view().tombstoned_ids, (std::unordered_set<std::string>{"t"}));
}

TEST_F(OpenTest, SharedEnvironmentOutlivesTheFirstClose) {
  auto a = LmdbBackend::open(dir_.string());
  auto b = LmdbBackend::open(dir_.string());
  ASSERT_TRUE(a.has_value() && b.has_value());
  EXPECT_EQ((*a)->env(), (*b)->env());
  ASSERT_TRUE((*a)->close().has_value());
  EXPECT_THROW((*a)->env(), zorlet_core::errors::InternalFault);
  EXPECT_EQ((*b)->schema_version(), 4u);
  // A second close has nothing to do.
  EXPECT_TRUE((*a)->close().has_value());
}

TEST_F(OpenTest, FlushWritesNextSeqEvenWhenNothingIsDirty) {
  {
    auto b = LmdbBackend::open(dir_.string());
    ASSERT_TRUE(b.has_value());
    (*b)->set_next_seq(7);
    ASSERT_TRUE((*b)->close().has_value());
  }
  auto b = LmdbBackend::open(dir_.string());
  ASSERT_TRUE(b.has_value());
  EXPECT_EQ((*b)->next_seq(), 7u);
}

}  // namespace
