// Entity index entries, type counters, search over damaged records, status
// bytes and the exact entries a purge removes: the on-disk effects Python
// cannot see.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "backend/lmdb/lmdb_backend.h"

namespace fs = std::filesystem;
using namespace zorlet_store::backend::lmdb;
using zorlet_store::backend::EntityRow;
using zorlet_core::types::Claim;
using zorlet_core::types::ClaimStatus;

namespace {

using Pairs = std::set<std::pair<std::string, std::string>>;

class EntityStatusTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("zorlet_entity_" + std::to_string(::getpid()) + "_" +
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

  // Every (key, value) pair of one database.
  Pairs all(MDB_dbi dbi) {
    Txn txn;
    EXPECT_EQ(Txn::begin(b_->env(), false, txn), MDB_SUCCESS);
    Cursor cur;
    EXPECT_EQ(Cursor::open(txn, dbi, cur), MDB_SUCCESS);
    Pairs out;
    std::string_view k, v;
    for (int rc = cur.get(MDB_FIRST, k, v); rc == MDB_SUCCESS; rc = cur.get(MDB_NEXT, k, v))
      out.emplace(std::string(k), std::string(v));
    return out;
  }
  bool has(MDB_dbi dbi, std::string_view key) {
    Txn txn;
    EXPECT_EQ(Txn::begin(b_->env(), false, txn), MDB_SUCCESS);
    std::string_view v;
    return txn.get(dbi, key, v) == MDB_SUCCESS;
  }
  void poke(const std::function<void(Txn&, const Dbs&)>& write) {
    Txn txn;
    ASSERT_EQ(Txn::begin(b_->env(), true, txn), MDB_SUCCESS);
    write(txn, b_->dbs());
    ASSERT_EQ(txn.commit(), MDB_SUCCESS);
  }
  std::optional<uint64_t> counter(std::string_view type) {
    Txn txn;
    EXPECT_EQ(Txn::begin(b_->env(), false, txn), MDB_SUCCESS);
    std::string_view v;
    if (txn.get(b_->dbs().entity_type_counts, type, v) != MDB_SUCCESS) return std::nullopt;
    return codec::decode_count(v);
  }

  fs::path dir_;
  std::unique_ptr<LmdbBackend> b_;
};

std::string seq_text(uint64_t seq) { return std::string(codec::view(codec::seq_key(seq))); }

Claim claim(std::string id, std::string subject, std::string predicate, std::string object, std::string source) {
  Claim c;
  c.claim_id = std::move(id);
  c.content_id = "cnt-" + c.claim_id;
  c.subject = {std::move(subject), "gene", "", {}};
  c.predicate = {std::move(predicate), "relation"};
  c.object = {std::move(object), "gene", "", {}};
  c.confidence = 0.5;
  c.provenance.source_type = "paper";
  c.provenance.source_id = std::move(source);
  c.timestamp = 10;
  return c;
}

TEST_F(EntityStatusTest, RegistrationIndexesDistinctTokensOfNameThenId) {
  // 300 two-byte characters: the token is cut to 490 bytes, i.e. 245 characters.
  std::string long_word;
  for (int i = 0; i < 300; ++i) long_word += "\xc3\xa9";
  b_->upsert_entity("p53_gene", "gene", "P53 Gene p53 " + long_word, std::nullopt, 1);
  EXPECT_EQ(all(b_->dbs().text_idx),
            (Pairs{{"p53", "p53_gene"}, {"gene", "p53_gene"}, {long_word.substr(0, 490), "p53_gene"}}));
  EXPECT_EQ(all(b_->dbs().entity_type_idx), (Pairs{{"gene", "p53_gene"}}));
}

TEST_F(EntityStatusTest, AVeryLongWordFindsItsOwnEntity) {
  std::string word(600, 'w');
  b_->upsert_entity("long", "gene", word, std::nullopt, 1);
  b_->upsert_entity("other", "gene", word.substr(0, 490) + "x", std::nullopt, 1);
  auto found = b_->search_entities(word, 10);
  ASSERT_EQ(found.size(), 2u);  // both are indexed under the same 490-byte cut
  EXPECT_TRUE(b_->search_entities(std::string(600, 'v'), 10).empty());
}

TEST_F(EntityStatusTest, RenamingAddsTokensAndKeepsTheOldOnes) {
  b_->upsert_entity("e1", "gene", "old name", std::nullopt, 1);
  ASSERT_TRUE(b_->update_display_name("e1", "new name"));
  EXPECT_EQ(all(b_->dbs().text_idx),
            (Pairs{{"old", "e1"}, {"name", "e1"}, {"e1", "e1"}, {"new", "e1"}}));
}

TEST_F(EntityStatusTest, TypeCounterCountsNewEntitiesOnlyAndNotInBulkLoadMode) {
  b_->upsert_entity("a", "gene", "", std::nullopt, 1);
  b_->upsert_entity("a", "gene", "", std::nullopt, 1);
  ASSERT_TRUE(b_->upsert_entities_batch({{"b", "gene", "", {}}, {"a", "gene", "", {{"x", "1"}}}}, 2).has_value());
  EXPECT_EQ(counter("gene"), 2u);

  b_->set_bulk_load_mode(true);
  std::vector<EntityRow> rows;
  for (int i = 0; i < 1000; ++i) rows.push_back({"bulk" + std::to_string(i), "protein", "", {}});
  ASSERT_TRUE(b_->upsert_entities_batch(rows, 3).has_value());
  b_->upsert_entity("single", "protein", "", std::nullopt, 3);
  EXPECT_EQ(counter("protein"), std::nullopt);
  EXPECT_EQ(b_->count_entities(std::string("protein"), 0), 1001u);
}

TEST_F(EntityStatusTest, UndecodableRecordIsRegisteredAgainAsNew) {
  b_->upsert_entity("e", "gene", "Name", std::nullopt, 1);
  poke([](Txn& txn, const Dbs& d) { ASSERT_EQ(txn.put(d.entities, "e", "\x01garbage"), MDB_SUCCESS); });
  EXPECT_FALSE(b_->get_entity("e").has_value());
  EXPECT_FALSE(b_->update_display_name("e", "Other"));
  // Its index entries exist already; writing them again must not fail the batch.
  auto r = b_->upsert_entities_batch({{"e", "gene", "Name", {}}}, 5);
  ASSERT_TRUE(r.has_value()) << r.error().display();
  auto e = b_->get_entity("e");
  ASSERT_TRUE(e.has_value());
  EXPECT_EQ(e->name, "Name");
  EXPECT_EQ(counter("gene"), 2u);  // counted as new once more, as a new registration is
}

TEST_F(EntityStatusTest, EmptyTypeFailsTheWholeBatch) {
  auto r = b_->upsert_entities_batch({{"a", "gene", "", {}}, {"b", "", "", {}}}, 1);
  ASSERT_FALSE(r.has_value());
  EXPECT_EQ(r.error().display().rfind("ProvenanceError: put entity_type_idx: ", 0), 0u) << r.error().display();
  EXPECT_TRUE(all(b_->dbs().entities).empty());
  EXPECT_TRUE(all(b_->dbs().text_idx).empty());
}

TEST_F(EntityStatusTest, SearchDropsATopCandidateWhoseRecordIsGone) {
  b_->upsert_entity("k1", "gene", "kinase", std::nullopt, 1);
  b_->upsert_entity("k2", "gene", "kinase alpha beta", std::nullopt, 1);
  b_->upsert_entity("k3", "gene", "kinase alpha beta gamma delta", std::nullopt, 1);
  for (int i = 0; i < 5; ++i) b_->upsert_entity("other" + std::to_string(i), "gene", "", std::nullopt, 1);
  poke([](Txn& txn, const Dbs& d) { ASSERT_EQ(txn.del(d.entities, "k1"), MDB_SUCCESS); });
  // k1 still ranks first (its length counts as 1) and takes the only place.
  EXPECT_TRUE(b_->search_entities("kinase", 1).empty());
  auto two = b_->search_entities("kinase", 2);
  ASSERT_EQ(two.size(), 1u);
  EXPECT_EQ(two[0].id, "k2");
  EXPECT_EQ(b_->search_entities("kinase", 3).size(), 2u);
}

TEST_F(EntityStatusTest, ListingSkipsTypeEntriesWithoutRecords) {
  b_->upsert_entity("a", "gene", "", std::nullopt, 1);
  b_->upsert_entity("b", "gene", "", std::nullopt, 1);
  poke([](Txn& txn, const Dbs& d) { ASSERT_EQ(txn.del(d.entities, "a"), MDB_SUCCESS); });
  auto listed = b_->list_entities(std::string("gene"), 0, 0, 0);
  ASSERT_EQ(listed.size(), 1u);
  EXPECT_EQ(listed[0].id, "b");
  // Counting by type reads only the index.
  EXPECT_EQ(b_->count_entities(std::string("gene"), 0), 2u);
  EXPECT_EQ(b_->count_entities(std::nullopt, 0), 1u);
}

TEST_F(EntityStatusTest, StatusChangesWriteOneCodeByteAndFollowTombstones) {
  ASSERT_TRUE(b_->insert_claim(claim("c1", "a", "rel", "b", "s")));
  ASSERT_EQ(b_->update_claim_status("c1", ClaimStatus::Disputed), true);
  EXPECT_EQ(all(b_->dbs().status_overrides), (Pairs{{"c1", std::string("\x06", 1)}}));
  ASSERT_EQ(b_->update_claim_status("c1", ClaimStatus::Tombstoned), true);
  EXPECT_TRUE(b_->view().is_tombstoned("c1"));
  auto n = b_->update_claim_status_batch({{"c1", ClaimStatus::Tombstoned}, {"zz", ClaimStatus::Active},
                                          {"c1", ClaimStatus::Archived}});
  ASSERT_EQ(n, 2u);
  EXPECT_FALSE(b_->view().is_tombstoned("c1"));
  EXPECT_EQ(all(b_->dbs().status_overrides), (Pairs{{"c1", std::string("\x01", 1)}}));
  EXPECT_EQ(b_->update_claim_status("zz", ClaimStatus::Archived), false);
  EXPECT_FALSE(has(b_->dbs().status_overrides, "zz"));
}

TEST_F(EntityStatusTest, PurgeDeletesExactlyRecordIdEntryAndSummary) {
  ASSERT_TRUE(b_->insert_claim(claim("c1", "a", "rel", "b", "gone")));
  ASSERT_TRUE(b_->insert_claim(claim("c2", "a", "rel", "b", "kept")));
  ASSERT_EQ(b_->update_claim_status("c1", ClaimStatus::Tombstoned), true);
  auto source_before = all(b_->dbs().source_idx);
  auto entity_before = all(b_->dbs().entity_claims_idx);

  ASSERT_EQ(b_->purge_source("gone"), 1u);
  EXPECT_FALSE(has(b_->dbs().claims, seq_text(0)));
  EXPECT_FALSE(has(b_->dbs().claim_id_idx, "c1"));
  EXPECT_FALSE(has(b_->dbs().claim_summaries, seq_text(0)));
  EXPECT_TRUE(has(b_->dbs().claims, seq_text(1)));
  EXPECT_TRUE(has(b_->dbs().claim_summaries, seq_text(1)));
  EXPECT_EQ(all(b_->dbs().source_idx), source_before);
  EXPECT_EQ(all(b_->dbs().entity_claims_idx), entity_before);
  EXPECT_TRUE(has(b_->dbs().status_overrides, "c1"));
  EXPECT_TRUE(b_->view().is_tombstoned("c1"));
}

TEST_F(EntityStatusTest, PurgeKeepsAnIdEntryThatNamesAnotherClaim) {
  ASSERT_TRUE(b_->insert_claim(claim("c1", "a", "rel", "b", "gone")));
  ASSERT_TRUE(b_->insert_claim(claim("c9", "a", "rel", "b", "kept")));
  // An id entry that names a different record than the one purged stays.
  poke([](Txn& txn, const Dbs& d) { ASSERT_EQ(txn.put(d.claim_id_idx, "c1", seq_text(1)), MDB_SUCCESS); });
  ASSERT_EQ(b_->purge_source("gone"), 1u);
  EXPECT_TRUE(has(b_->dbs().claim_id_idx, "c1"));
}

TEST_F(EntityStatusTest, ReadOnlyBackendRefusesPurgeAndAliasReset) {
  ASSERT_TRUE(b_->close().has_value());
  b_.reset();
  auto ro = LmdbBackend::open_read_only(dir_.string());
  ASSERT_TRUE(ro.has_value()) << ro.error().display();
  auto purged = (*ro)->purge_source("s");
  ASSERT_FALSE(purged.has_value());
  EXPECT_EQ(purged.error().display(), "ReadOnlyError: store is read-only");
  auto cleared = (*ro)->clear_aliases();
  ASSERT_FALSE(cleared.has_value());
  EXPECT_EQ(cleared.error().display(), "ReadOnlyError: store is read-only");
}

}  // namespace
