// Counter rebuild and backfills at the byte level: what they write must be
// exactly what the claim write path writes.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "backend/lmdb/lmdb_backend.h"
#include "zorlet_core/log.h"

namespace fs = std::filesystem;
using namespace zorlet_store::backend::lmdb;
using zorlet_core::types::Claim;

namespace {

std::vector<std::string> g_lines;
void capture(zorlet_core::log::Level, std::string_view target, std::string_view message) {
  g_lines.push_back(std::string(target) + "|" + std::string(message));
}

Claim claim(int i) {
  Claim c;
  c.claim_id = "c" + std::to_string(i);
  c.content_id = "k" + std::to_string(i % 7);
  c.subject.id = "e" + std::to_string(i % 13);
  c.subject.entity_type = "gene";
  c.object.id = i % 17 == 0 ? c.subject.id : std::string(i % 29 == 0 ? 600 : 3, 'o') + std::to_string(i % 5);
  c.object.entity_type = "gene";
  c.predicate.id = i % 3 ? "activates" : "binds";
  c.predicate.predicate_type = i % 4 ? "causal" : "";   // empty types are never counted
  c.provenance.source_type = i % 5 ? "paper" : "";
  c.provenance.source_id = "s" + std::to_string(i % 4);
  c.confidence = 0.1 * (i % 10) + 0.013;
  c.timestamp = i;
  return c;
}

using Table = std::map<std::string, std::string>;

Table dump(LmdbBackend& b, MDB_dbi dbi) {
  Table out;
  Txn txn;
  EXPECT_EQ(Txn::begin(b.env(), false, txn), MDB_SUCCESS);
  Cursor cur;
  EXPECT_EQ(Cursor::open(txn, dbi, cur), MDB_SUCCESS);
  std::string_view k, v;
  for (int rc = cur.get(MDB_FIRST, k, v); rc == MDB_SUCCESS; rc = cur.get(MDB_NEXT, k, v))
    out.emplace(std::string(k), std::string(v));
  return out;
}

std::vector<MDB_dbi> counter_tables(const Dbs& d) {
  return {d.pred_type_counts,   d.pred_id_counts,    d.src_type_counts,  d.entity_type_counts,
          d.entity_pred_counts, d.entity_src_counts, d.pred_pair_counts, d.claim_summaries};
}

class CountersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    base_ = fs::temp_directory_path() / ("zorlet_counters_" + std::to_string(::getpid()) + "_" +
                                         ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(base_);
  }
  void TearDown() override { fs::remove_all(base_); }

  std::unique_ptr<LmdbBackend> loaded(const std::string& name, bool bulk, int n = 700) {
    auto b = LmdbBackend::open((base_ / name).string());
    EXPECT_TRUE(b.has_value());
    (*b)->set_bulk_load_mode(bulk);
    std::vector<Claim> claims;
    for (int i = 0; i < n; ++i) claims.push_back(claim(i));
    EXPECT_EQ((*b)->insert_claims_batch(std::move(claims)), static_cast<uint64_t>(n));
    (*b)->upsert_entity("e1", "gene", "E1", std::nullopt, 5);
    (*b)->upsert_entity("e2", "", "E2", std::nullopt, 5);
    (*b)->set_bulk_load_mode(false);
    return std::move(*b);
  }

  fs::path base_;
};

TEST_F(CountersTest, RebuildWritesExactlyWhatTheWritePathWrites) {
  auto normal = loaded("normal", false);
  auto bulk = loaded("bulk", true);
  EXPECT_TRUE(dump(*bulk, bulk->dbs().pred_pair_counts).empty());
  g_lines.clear();
  zorlet_core::log::set_sink(capture);
  ASSERT_TRUE(bulk->rebuild_counters().has_value());
  zorlet_core::log::set_sink(nullptr);
  for (size_t t = 0; t < counter_tables(normal->dbs()).size(); ++t)
    EXPECT_EQ(dump(*bulk, counter_tables(bulk->dbs())[t]), dump(*normal, counter_tables(normal->dbs())[t]))
        << "table " << t;
  EXPECT_EQ(g_lines, std::vector<std::string>{
                         "zorlet_store::backend::lmdb|rebuild_counters: processed 700 claims, 1 entity types, "
                         "2 predicate IDs"});
}

TEST_F(CountersTest, BackfillsWriteExactlyWhatTheWritePathWrites) {
  auto normal = loaded("normal", false);
  auto bulk = loaded("bulk", true);
  ASSERT_EQ(bulk->backfill_pred_id_counts().value(), 2u);
  ASSERT_EQ(bulk->backfill_claim_summaries().value(), 700u);
  ASSERT_EQ(bulk->backfill_analytics_counters().value(), 700u);
  const Dbs& b = bulk->dbs();
  const Dbs& n = normal->dbs();
  for (auto [mine, theirs] : {std::pair{b.pred_id_counts, n.pred_id_counts},
                              std::pair{b.claim_summaries, n.claim_summaries},
                              std::pair{b.entity_pred_counts, n.entity_pred_counts},
                              std::pair{b.entity_src_counts, n.entity_src_counts},
                              std::pair{b.pred_pair_counts, n.pred_pair_counts}})
    EXPECT_EQ(dump(*bulk, mine), dump(*normal, theirs));
}

TEST_F(CountersTest, SummaryTableCountsAsCompleteWhenBothEndsAreThere) {
  auto b = loaded("s", false, 10);
  {
    Txn txn;
    ASSERT_EQ(Txn::begin(b->env(), true, txn), MDB_SUCCESS);
    auto middle = codec::seq_key(5);
    ASSERT_EQ(txn.del(b->dbs().claim_summaries, codec::view(middle)), MDB_SUCCESS);
    ASSERT_EQ(txn.commit(), MDB_SUCCESS);
  }
  EXPECT_EQ(b->backfill_claim_summaries().value(), 0u);
  {
    Txn txn;
    ASSERT_EQ(Txn::begin(b->env(), true, txn), MDB_SUCCESS);
    auto last = codec::seq_key(9);
    ASSERT_EQ(txn.del(b->dbs().claim_summaries, codec::view(last)), MDB_SUCCESS);
    ASSERT_EQ(txn.commit(), MDB_SUCCESS);
  }
  EXPECT_EQ(b->backfill_claim_summaries().value(), 10u);
  EXPECT_EQ(dump(*b, b->dbs().claim_summaries).size(), 10u);
}

TEST_F(CountersTest, UndecodableClaimsAreSkippedByTheRebuild) {
  auto b = loaded("s", false, 20);
  Table before = dump(*b, b->dbs().pred_id_counts);
  // An undecodable claim is skipped, never counted, never fatal.
  {
    Txn txn;
    ASSERT_EQ(Txn::begin(b->env(), true, txn), MDB_SUCCESS);
    auto key = codec::seq_key(1000);
    ASSERT_EQ(txn.put(b->dbs().claims, codec::view(key), std::string("\x01garbage", 8)), MDB_SUCCESS);
    ASSERT_EQ(txn.commit(), MDB_SUCCESS);
  }
  ASSERT_TRUE(b->rebuild_counters().has_value());
  EXPECT_EQ(dump(*b, b->dbs().pred_id_counts), before);
}

TEST_F(CountersTest, MaintenanceAfterCloseIsTheShortFault) {
  auto b = loaded("s", false, 1);
  ASSERT_TRUE(b->close().has_value());
  for (auto op : {+[](LmdbBackend& x) { (void)x.rebuild_counters(); },
                  +[](LmdbBackend& x) { (void)x.backfill_pred_id_counts(); },
                  +[](LmdbBackend& x) { (void)x.backfill_claim_summaries(); },
                  +[](LmdbBackend& x) { (void)x.backfill_analytics_counters(); }}) {
    try {
      op(*b);
      ADD_FAILURE() << "no fault";
    } catch (const zorlet_core::errors::InternalFault& f) {
      EXPECT_STREQ(f.what(), "LMDB environment already closed");
    }
  }
  EXPECT_THROW((void)b->rebuild_causal_adj(), zorlet_core::errors::InternalFault);
  EXPECT_THROW((void)b->compact(), zorlet_core::errors::InternalFault);
}

}  // namespace
