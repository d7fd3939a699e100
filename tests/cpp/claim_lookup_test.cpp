// Claim lookups over damaged or hand-made database entries, which Python
// cannot produce: status bytes out of range, undecodable claims and summaries,
// short index values.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>

#include "backend/lmdb/lmdb_backend.h"

namespace fs = std::filesystem;
using namespace zorlet_store::backend::lmdb;
using zorlet_core::types::Claim;
using zorlet_core::types::ClaimStatus;

namespace {

Claim make(std::string id, std::string subject = "a", std::string object = "b") {
  Claim c;
  c.claim_id = std::move(id);
  c.content_id = "cnt";
  c.subject = {std::move(subject), "gene", "", {}};
  c.predicate = {"binds", "relation"};
  c.object = {std::move(object), "gene", "", {}};
  c.confidence = 0.5;
  c.provenance.source_type = "paper";
  c.provenance.source_id = "src";
  c.timestamp = 3;
  return c;
}

std::string seq(uint64_t s) { return std::string(codec::view(codec::seq_key(s))); }

class ClaimLookupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("zorlet_lookup_" + std::to_string(::getpid()) + "_" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    auto b = LmdbBackend::open(dir_.string());
    ASSERT_TRUE(b.has_value()) << b.error().display();
    b_ = std::move(*b);
  }
  void TearDown() override {
    b_.reset();
    fs::remove_all(dir_);
  }

  void poke(const std::function<void(Txn&, const Dbs&)>& write) {
    Txn txn;
    ASSERT_EQ(Txn::begin(b_->env(), true, txn), MDB_SUCCESS);
    write(txn, b_->dbs());
    ASSERT_EQ(txn.commit(), MDB_SUCCESS);
  }

  fs::path dir_;
  std::unique_ptr<LmdbBackend> b_;
};

class StatusByteTest : public ClaimLookupTest, public ::testing::WithParamInterface<std::pair<std::string, ClaimStatus>> {};

TEST_P(StatusByteTest, GetClaimReadsTheOverrideByte) {
  auto [bytes, expected] = GetParam();
  ASSERT_TRUE(b_->insert_claim(make("c1")));
  poke([&](Txn& txn, const Dbs& d) { ASSERT_EQ(txn.put(d.status_overrides, "c1", bytes), MDB_SUCCESS); });
  auto got = b_->get_claim("c1");
  ASSERT_TRUE(got.has_value());
  EXPECT_EQ(got->status, expected);
  // Scans never read overrides.
  EXPECT_EQ(b_->claims_for("a", std::nullopt, std::nullopt, 0.0, 0).at(0).status, ClaimStatus::Active);
}

INSTANTIATE_TEST_SUITE_P(Bytes, StatusByteTest,
                         ::testing::Values(std::pair{std::string("\x01"), ClaimStatus::Archived},
                                           std::pair{std::string("\x06\x00", 2), ClaimStatus::Disputed},
                                           std::pair{std::string("\x07"), ClaimStatus::Active},
                                           std::pair{std::string("\x09"), ClaimStatus::Active}));

TEST_F(ClaimLookupTest, EmptyOverrideKeepsTheStoredStatus) {
  Claim c = make("c1");
  c.status = ClaimStatus::Verified;
  ASSERT_TRUE(b_->insert_claim(c));
  poke([&](Txn& txn, const Dbs& d) { ASSERT_EQ(txn.put(d.status_overrides, "c1", ""), MDB_SUCCESS); });
  EXPECT_EQ(b_->get_claim("c1")->status, ClaimStatus::Verified);
}

TEST_F(ClaimLookupTest, UndecodableClaimsAreSkippedEverywhere) {
  ASSERT_TRUE(b_->insert_claim(make("good1")));
  ASSERT_TRUE(b_->insert_claim(make("bad")));
  ASSERT_TRUE(b_->insert_claim(make("good2")));
  poke([&](Txn& txn, const Dbs& d) { ASSERT_EQ(txn.put(d.claims, seq(1), std::string("\x01garbage")), MDB_SUCCESS); });

  auto ids = [](const std::vector<Claim>& claims) {
    std::vector<std::string> out;
    for (const Claim& c : claims) out.push_back(c.claim_id);
    return out;
  };
  const std::vector<std::string> good = {"good1", "good2"};
  EXPECT_EQ(ids(b_->claims_for("a", std::nullopt, std::nullopt, 0.0, 0)), good);
  EXPECT_EQ(ids(b_->claims_by_source_id("src")), good);
  EXPECT_EQ(ids(b_->claims_in_range(0, 10)), good);
  EXPECT_EQ(ids(b_->all_claims(0, 0)), good);
  EXPECT_EQ(ids(b_->all_claims(1, 0)), std::vector<std::string>{"good2"});  // undecodable ones are not counted
  EXPECT_EQ(ids(b_->most_recent_claims(2)), (std::vector<std::string>{"good2", "good1"}));
  EXPECT_FALSE(b_->get_claim("bad").has_value());
  EXPECT_TRUE(b_->get_claim_provenance_chain("bad").empty());
  EXPECT_TRUE(b_->claim_exists("bad"));
  EXPECT_EQ(b_->count_claims(), 3u);
  EXPECT_EQ(b_->corroboration_count("cnt"), 3u);  // counts index entries, decodable or not
}

TEST_F(ClaimLookupTest, ShortIndexValuesAreSkippedButCounted) {
  ASSERT_TRUE(b_->insert_claim(make("c1")));
  poke([&](Txn& txn, const Dbs& d) {
    ASSERT_EQ(txn.put(d.content_id_idx, "cnt", "\x01\x02"), MDB_SUCCESS);
    ASSERT_EQ(txn.put(d.entity_claims_idx, "a", "short"), MDB_SUCCESS);
  });
  EXPECT_EQ(b_->claims_by_content_id("cnt").size(), 1u);
  EXPECT_EQ(b_->claims_for("a", std::nullopt, std::nullopt, 0.0, 0).size(), 1u);
  EXPECT_EQ(b_->corroboration_count("cnt"), 2u);
}

TEST_F(ClaimLookupTest, IndexEntriesWithoutAClaimAreSkipped) {
  ASSERT_TRUE(b_->insert_claim(make("c1")));
  poke([&](Txn& txn, const Dbs& d) { ASSERT_EQ(txn.put(d.source_idx, "src", seq(77)), MDB_SUCCESS); });
  EXPECT_EQ(b_->claims_by_source_id("src").size(), 1u);
}

TEST_F(ClaimLookupTest, SummaryFallsBackToTheClaimWhenMissingOrDamaged) {
  Claim c = make("c1");
  ASSERT_TRUE(b_->insert_claim(c));
  b_->set_bulk_load_mode(true);
  ASSERT_TRUE(b_->insert_claim(make("c2")));  // no summary written
  ASSERT_TRUE(b_->insert_claim(make("c3")));
  poke([&](Txn& txn, const Dbs& d) {
    ASSERT_EQ(txn.put(d.claim_summaries, seq(2), "xx"), MDB_SUCCESS);
    ASSERT_EQ(txn.put(d.claim_summaries, seq(9), codec::encode_summary(codec::summary_of(c))), MDB_SUCCESS);
  });
  Txn txn;
  ASSERT_EQ(Txn::begin(b_->env(), false, txn), MDB_SUCCESS);
  EXPECT_EQ(b_->load_summary_by_seq(txn, 0), codec::summary_of(c));
  EXPECT_EQ(b_->load_summary_by_seq(txn, 1), codec::summary_of(make("c2")));
  EXPECT_EQ(b_->load_summary_by_seq(txn, 2), codec::summary_of(make("c3")));
  EXPECT_EQ(b_->load_summary_by_seq(txn, 9), codec::summary_of(c));  // a summary alone is enough
  EXPECT_FALSE(b_->load_summary_by_seq(txn, 10).has_value());
}

TEST_F(ClaimLookupTest, ClaimsForEntitiesListsEachClaimOnceAtItsFirstSighting) {
  ASSERT_TRUE(b_->insert_claim(make("ab", "a", "b")));
  ASSERT_TRUE(b_->insert_claim(make("bc", "b", "c")));
  ASSERT_TRUE(b_->insert_claim(make("aa", "a", "a")));
  Txn txn;
  ASSERT_EQ(Txn::begin(b_->env(), false, txn), MDB_SUCCESS);
  auto claims = b_->claims_for_entities(txn, {"a", "b", "c"});
  std::multiset<std::string> seen;
  for (const Claim& c : claims) seen.insert(c.claim_id);
  EXPECT_EQ(seen, (std::multiset<std::string>{"aa", "ab", "bc"}));
}

TEST_F(ClaimLookupTest, ReadTransactionsDoNotOutliveALookup) {
  ASSERT_TRUE(b_->insert_claim(make("c1")));
  for (int i = 0; i < 2000; ++i) ASSERT_EQ(b_->claims_for("a", std::nullopt, std::nullopt, 0.0, 0).size(), 1u);
  auto [used, max] = b_->reader_info();
  EXPECT_LE(used, 2u);
  EXPECT_EQ(max, 512u);
}

}  // namespace
