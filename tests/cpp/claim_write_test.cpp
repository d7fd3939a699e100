// The claim write path, seen through the raw databases: which entries one
// claim leaves, the key-size guards and cuts, bulk-load mode, counter folding,
// and that a batch leaves exactly the bytes claim-by-claim inserts leave.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "backend/lmdb/lmdb_backend.h"

namespace fs = std::filesystem;
using namespace zorlet_store::backend::lmdb;
using zorlet_core::types::Claim;

namespace {

using Entries = std::vector<std::pair<std::string, std::string>>;

std::string seq(uint64_t s) { return std::string(codec::view(codec::seq_key(s))); }
std::string count(uint64_t c) {
  auto b = codec::encode_count(c);
  return {b.data(), b.size()};
}
std::string conf(uint64_t n, double sum) {
  auto b = codec::encode_conf({n, sum});
  return {b.data(), b.size()};
}
std::string key(std::string_view a, std::string_view b) { return codec::composite(a, b); }

Claim make(std::string id, std::string subject, std::string predicate, std::string object, double confidence = 0.5) {
  Claim c;
  c.claim_id = std::move(id);
  c.content_id = "cnt-" + c.claim_id;
  c.subject = {std::move(subject), "gene", "", {}};
  c.predicate = {std::move(predicate), "relation"};
  c.object = {std::move(object), "protein", "", {}};
  c.confidence = confidence;
  c.provenance.source_type = "paper";
  c.provenance.source_id = "src";
  c.timestamp = 7;
  return c;
}

class ClaimWriteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("zorlet_write_" + std::to_string(::getpid()) + "_" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::unique_ptr<LmdbBackend> open(const fs::path& dir) {
    auto b = LmdbBackend::open(dir.string());
    EXPECT_TRUE(b.has_value()) << b.error().display();
    return std::move(*b);
  }

  // Every (key, value) of a database, duplicates included, in key order.
  static Entries dump(LmdbBackend& b, MDB_dbi dbi) {
    Txn txn;
    EXPECT_EQ(Txn::begin(b.env(), false, txn), MDB_SUCCESS);
    Cursor cur;
    EXPECT_EQ(Cursor::open(txn, dbi, cur), MDB_SUCCESS);
    Entries out;
    std::string_view k, v;
    for (int rc = cur.get(MDB_FIRST, k, v); rc == MDB_SUCCESS; rc = cur.get(MDB_NEXT, k, v))
      out.emplace_back(std::string(k), std::string(v));
    return out;
  }

  // The 23 databases a claim write may touch (everything but `entities`),
  // with "next_seq" standing in for meta_blobs.
  static std::map<std::string, Entries> dump_all(LmdbBackend& b) {
    const Dbs& d = b.dbs();
    std::map<std::string, Entries> all = {
        {"claims", dump(b, d.claims)},
        {"claim_id_idx", dump(b, d.claim_id_idx)},
        {"status_overrides", dump(b, d.status_overrides)},
        {"pred_type_counts", dump(b, d.pred_type_counts)},
        {"src_type_counts", dump(b, d.src_type_counts)},
        {"entity_type_counts", dump(b, d.entity_type_counts)},
        {"pred_id_counts", dump(b, d.pred_id_counts)},
        {"claim_summaries", dump(b, d.claim_summaries)},
        {"entity_pred_counts", dump(b, d.entity_pred_counts)},
        {"entity_src_counts", dump(b, d.entity_src_counts)},
        {"pred_pair_counts", dump(b, d.pred_pair_counts)},
        {"content_id_idx", dump(b, d.content_id_idx)},
        {"entity_claims_idx", dump(b, d.entity_claims_idx)},
        {"adjacency_idx", dump(b, d.adjacency_idx)},
        {"timestamp_idx", dump(b, d.timestamp_idx)},
        {"source_idx", dump(b, d.source_idx)},
        {"predicate_idx", dump(b, d.predicate_idx)},
        {"namespace_idx", dump(b, d.namespace_idx)},
        {"project_idx", dump(b, d.project_idx)},
        {"entity_type_idx", dump(b, d.entity_type_idx)},
        {"text_idx", dump(b, d.text_idx)},
        {"causal_adj", dump(b, d.causal_adj)},
    };
    Txn txn;
    EXPECT_EQ(Txn::begin(b.env(), false, txn), MDB_SUCCESS);
    std::string_view next;
    if (txn.get(d.meta_blobs, "next_seq", next) == MDB_SUCCESS) all["next_seq"] = {{"next_seq", std::string(next)}};
    return all;
  }

  fs::path dir_;
};

TEST_F(ClaimWriteTest, OneClaimWritesEveryEntryOfItsLayout) {
  auto b = open(dir_);
  Claim c = make("c1", "a", "causes", "b");
  c.predicate.predicate_type = "causal";
  c.ns = "bio";
  c.provenance.project = "proj";
  ASSERT_TRUE(b->insert_claim(c));

  auto all = dump_all(*b);
  ASSERT_EQ(all["claims"].size(), 1u);
  EXPECT_EQ(all["claims"][0].first, seq(0));
  auto stored = codec::decompress_claim(all["claims"][0].second);
  ASSERT_TRUE(stored.has_value());
  EXPECT_EQ(*stored, c);

  const std::string s0 = seq(0);
  EXPECT_EQ(all["claim_id_idx"], (Entries{{"c1", s0}}));
  EXPECT_EQ(all["content_id_idx"], (Entries{{"cnt-c1", s0}}));
  EXPECT_EQ(all["entity_claims_idx"], (Entries{{"a", s0}, {"b", s0}}));
  EXPECT_EQ(all["adjacency_idx"], (Entries{{"a", "b"}, {"b", "a"}}));
  EXPECT_EQ(all["causal_adj"], (Entries{{key("a", "causes"), "b"}}));
  EXPECT_EQ(all["timestamp_idx"], (Entries{{std::string(codec::view(codec::timestamp_key(7))), s0}}));
  EXPECT_EQ(all["source_idx"], (Entries{{"src", s0}}));
  EXPECT_EQ(all["predicate_idx"], (Entries{{"causes", s0}}));
  EXPECT_EQ(all["namespace_idx"], (Entries{{"bio", s0}}));
  EXPECT_EQ(all["project_idx"], (Entries{{"proj", s0}}));
  EXPECT_EQ(all["pred_type_counts"], (Entries{{"causal", count(1)}}));
  EXPECT_EQ(all["pred_id_counts"], (Entries{{"causes", count(1)}}));
  EXPECT_EQ(all["src_type_counts"], (Entries{{"paper", count(1)}}));
  EXPECT_EQ(all["claim_summaries"], (Entries{{s0, codec::encode_summary(codec::summary_of(c))}}));
  EXPECT_EQ(all["entity_pred_counts"], (Entries{{key("a", "causes"), count(1)}, {key("b", "causes"), count(1)}}));
  EXPECT_EQ(all["entity_src_counts"], (Entries{{key("a", "src"), conf(1, 0.5)}, {key("b", "src"), conf(1, 0.5)}}));
  EXPECT_EQ(all["pred_pair_counts"], (Entries{{codec::composite("causes", "a", "b"), conf(1, 0.5)}}));
  auto next = codec::encode_u64_le(1);
  EXPECT_EQ(all["next_seq"], (Entries{{"next_seq", std::string(next.data(), 8)}}));
  EXPECT_TRUE(all["status_overrides"].empty());
  EXPECT_TRUE(all["entity_type_idx"].empty());
}

TEST_F(ClaimWriteTest, SelfLoopWritesOnlySubjectSideEntries) {
  auto b = open(dir_);
  ASSERT_TRUE(b->insert_claim(make("c1", "a", "relates_to", "a")));
  auto all = dump_all(*b);
  EXPECT_EQ(all["entity_claims_idx"], (Entries{{"a", seq(0)}}));
  EXPECT_TRUE(all["adjacency_idx"].empty());
  EXPECT_EQ(all["entity_pred_counts"], (Entries{{key("a", "relates_to"), count(1)}}));
  EXPECT_EQ(all["entity_src_counts"], (Entries{{key("a", "src"), conf(1, 0.5)}}));
}

TEST_F(ClaimWriteTest, LongObjectGetsNoObjectIndexesButCutCounterKeys) {
  auto b = open(dir_);
  // 300 two-byte characters: cuts at 490 and 470 bytes fall on boundaries,
  // a cut at an odd limit would not.
  std::string object;
  for (int i = 0; i < 300; ++i) object += "\xc3\xa9";
  ASSERT_TRUE(b->insert_claim(make("c1", "a", "causes", object)));
  auto all = dump_all(*b);
  EXPECT_EQ(all["entity_claims_idx"], (Entries{{"a", seq(0)}}));
  EXPECT_TRUE(all["adjacency_idx"].empty());
  EXPECT_TRUE(all["causal_adj"].empty());
  EXPECT_EQ(all["entity_pred_counts"],
            (Entries{{key("a", "causes"), count(1)}, {key(object.substr(0, 490), "causes"), count(1)}}));
  EXPECT_EQ(all["entity_src_counts"],
            (Entries{{key("a", "src"), conf(1, 0.5)}, {key(object.substr(0, 470), "src"), conf(1, 0.5)}}));
  // "causes", 0x1F, "a", 0x1F is 9 bytes, so 500 would split a character: 499.
  std::string pair = codec::composite("causes", "a", object);
  EXPECT_EQ(all["pred_pair_counts"], (Entries{{pair.substr(0, 499), conf(1, 0.5)}}));

  // An object of 491 one-byte characters misses the 490 guard by one; one of
  // 490 gets every object-side entry.
  ASSERT_TRUE(b->insert_claim(make("c2", "x", "causes", std::string(491, 'o'))));
  ASSERT_TRUE(b->insert_claim(make("c3", "y", "causes", std::string(490, 'p'))));
  auto after = dump_all(*b);
  EXPECT_EQ(after["adjacency_idx"].size(), 2u);
  EXPECT_EQ(after["causal_adj"], (Entries{{key("y", "causes"), std::string(490, 'p')}}));
}

class CausalEdgeTest : public ClaimWriteTest, public ::testing::WithParamInterface<std::pair<const char*, bool>> {};

TEST_P(CausalEdgeTest, OnlyTheThirteenWritePathPredicatesAddAnEdge) {
  auto [predicate, edge] = GetParam();
  auto b = open(dir_);
  ASSERT_TRUE(b->insert_claim(make("c1", "a", predicate, "b")));
  EXPECT_EQ(dump(*b, b->dbs().causal_adj).size(), edge ? 1u : 0u) << predicate;
}

INSTANTIATE_TEST_SUITE_P(
    Predicates, CausalEdgeTest,
    ::testing::Values(std::pair{"causes", true}, std::pair{"blocks", true}, std::pair{"enables", true},
                      std::pair{"inhibits", true}, std::pair{"promotes", true}, std::pair{"prevents", true},
                      std::pair{"activates", true}, std::pair{"regulates", true}, std::pair{"increases", true},
                      std::pair{"decreases", true}, std::pair{"suppresses", true}, std::pair{"upregulates", true},
                      std::pair{"downregulates", true}, std::pair{"Causes", false}, std::pair{"caused_by", false},
                      std::pair{"phosphorylates", false}, std::pair{"stabilizes", false},
                      std::pair{"relates_to", false}));

TEST_F(ClaimWriteTest, BulkLoadModeWritesIndexesButNoCountersOrSummaries) {
  auto b = open(dir_);
  b->set_bulk_load_mode(true);
  ASSERT_TRUE(b->insert_claim(make("c1", "a", "causes", "b")));
  ASSERT_EQ(b->insert_claims_batch({make("c2", "b", "inhibits", "c")}), 1u);
  auto all = dump_all(*b);
  for (const char* counter : {"pred_type_counts", "pred_id_counts", "src_type_counts", "claim_summaries",
                              "entity_pred_counts", "entity_src_counts", "pred_pair_counts"})
    EXPECT_TRUE(all[counter].empty()) << counter;
  EXPECT_EQ(all["claims"].size(), 2u);
  EXPECT_EQ(all["entity_claims_idx"].size(), 4u);
  EXPECT_EQ(all["causal_adj"].size(), 2u);
  EXPECT_EQ(all["predicate_idx"].size(), 2u);
}

// A batch gathers its chunk and writes each database in key order with
// folded counters; the stored bytes must be those of one insert per claim.
TEST_F(ClaimWriteTest, BatchLeavesTheBytesOfClaimByClaimInserts) {
  std::vector<Claim> claims;
  const char* entities[] = {"a", "b", "c", "a"};
  const char* predicates[] = {"causes", "relates_to", "inhibits"};
  for (int i = 0; i < 40; ++i) {
    Claim c = make("c" + std::to_string(i), entities[i % 4], predicates[i % 3], entities[(i / 3) % 4],
                   0.1 + 0.07 * (i % 11));
    c.timestamp = 100 - i % 5;
    c.ns = i % 2 ? "x" : "";
    c.provenance.source_id = "src" + std::to_string(i % 3);
    c.provenance.source_type = i % 4 ? "paper" : "";
    claims.push_back(c);
  }
  claims.push_back(claims[3]);  // a repeated id is dropped by the batch, refused by insert_claim

  auto one_by_one = open(dir_ / "single");
  for (const Claim& c : claims) one_by_one->insert_claim(c);
  auto batched = open(dir_ / "batch");
  // A first claim already stored, so counters start from stored values.
  ASSERT_TRUE(batched->insert_claim(claims[0]));
  EXPECT_EQ(batched->insert_claims_batch(claims), claims.size() - 2);

  auto expected = dump_all(*one_by_one);
  auto actual = dump_all(*batched);
  for (const auto& [name, entries] : expected) EXPECT_EQ(actual[name], entries) << name;
}

// Bulk loading skips the counters and leaves them to rebuild_counters; the
// rebuild must arrive at what normal-mode writes keep.
TEST_F(ClaimWriteTest, BulkLoadThenRebuildEqualsNormalMode) {
  std::vector<Claim> claims;
  const char* entities[] = {"a", "b", "c"};
  for (int i = 0; i < 30; ++i) {
    Claim c = make("c" + std::to_string(i), entities[i % 3], i % 2 ? "causes" : "binds", entities[(i / 2) % 3],
                   0.05 * (i % 7) + 0.1);
    c.predicate.predicate_type = i % 2 ? "causal" : "relation";
    c.provenance.source_id = "src" + std::to_string(i % 4);
    claims.push_back(c);
  }
  auto normal = open(dir_ / "normal");
  ASSERT_EQ(normal->insert_claims_batch(claims), claims.size());
  auto bulk = open(dir_ / "bulk");
  bulk->set_bulk_load_mode(true);
  ASSERT_EQ(bulk->insert_claims_batch(claims), claims.size());
  ASSERT_TRUE(bulk->rebuild_counters().has_value());

  auto expected = dump_all(*normal);
  auto actual = dump_all(*bulk);
  for (const char* name : {"pred_type_counts", "pred_id_counts", "src_type_counts", "claim_summaries",
                           "entity_pred_counts", "entity_src_counts", "pred_pair_counts"})
    EXPECT_EQ(actual[name], expected[name]) << name;
}

TEST_F(ClaimWriteTest, ConfidenceSumsAreAddedInClaimOrder) {
  auto b = open(dir_);
  ASSERT_TRUE(b->insert_claim(make("c0", "a", "p", "b", 0.7)));
  ASSERT_EQ(b->insert_claims_batch({make("c1", "a", "p", "b", 0.1), make("c2", "a", "p", "b", 0.2),
                                    make("c3", "a", "p", "b", 0.3)}),
            3u);
  double sum = 0.7;
  sum += 0.1;
  sum += 0.2;
  sum += 0.3;
  EXPECT_EQ(dump(*b, b->dbs().pred_pair_counts), (Entries{{codec::composite("p", "a", "b"), conf(4, sum)}}));
}

TEST_F(ClaimWriteTest, RefusedClaimLeavesNoEntryAndTakesNoNumber) {
  // The subject's counter key (subject, 0x1F, predicate) is 512 bytes.
  const std::string subject(500, 's');
  Claim refused = make("bad", subject, "predicate_x", "o-bad");
  auto b = open(dir_);
  ASSERT_FALSE(b->insert_claim(refused));
  EXPECT_EQ(b->insert_claims_batch({make("ok1", "a", "causes", "b"), refused, make("ok2", "b", "causes", "c")}), 2u);

  auto all = dump_all(*b);
  EXPECT_EQ(all["claim_id_idx"], (Entries{{"ok1", seq(0)}, {"ok2", seq(1)}}));
  for (const auto& [name, entries] : all)
    for (const auto& [k, v] : entries) {
      EXPECT_EQ(k.find(subject), std::string::npos) << name;
      EXPECT_EQ(k.find("bad"), std::string::npos) << name;
      EXPECT_EQ(v.find("o-bad"), std::string::npos) << name;
    }
  EXPECT_EQ(b->next_seq(), 2u);

  // Bulk-load mode writes no counters, so nothing refuses the same claim.
  b->set_bulk_load_mode(true);
  EXPECT_TRUE(b->insert_claim(refused));
}

TEST_F(ClaimWriteTest, RefusalNamesTheStepThatWouldHaveFailed) {
  auto b = open(dir_);
  struct Case {
    const char* context;
    std::function<void(Claim&)> damage;
  };
  const std::vector<Case> cases = {
      {"put claim_id_idx", [](Claim& c) { c.claim_id = ""; }},
      {"put claim_id_idx", [](Claim& c) { c.claim_id = std::string(512, 'i'); }},
      {"put content_id_idx", [](Claim& c) { c.content_id = ""; }},
      {"put entity_claims_idx", [](Claim& c) { c.subject.id = ""; }},
      {"put entity_claims_idx", [](Claim& c) { c.object.id = ""; }},
      {"put source_idx", [](Claim& c) { c.provenance.source_id = std::string(600, 's'); }},
      {"put predicate_idx", [](Claim& c) { c.predicate.id = ""; }},
      {"put namespace_idx", [](Claim& c) { c.ns = std::string(512, 'n'); }},
      {"put project_idx", [](Claim& c) { c.provenance.project = std::string(512, 'p'); }},
      {"put counter", [](Claim& c) { c.predicate.predicate_type = std::string(512, 't'); }},
      {"put counter", [](Claim& c) { c.object.id = std::string(490, 'o'), c.predicate.id = std::string(30, 'p'); }},
      {"put conf counter", [](Claim& c) { c.provenance.source_id = std::string(510, 's'); }},
  };
  for (const Case& k : cases) {
    Claim c = make("c", "a", "p", "b");
    k.damage(c);
    Txn txn;
    ASSERT_EQ(Txn::begin(b->env(), true, txn), MDB_SUCCESS);
    auto r = b->write_claim_to_txn(txn, 0, c);
    ASSERT_FALSE(r.has_value()) << k.context;
    EXPECT_EQ(r.error().display(), std::string("ProvenanceError: ") + k.context + ": " + lmdb_text(MDB_BAD_VALSIZE));
    // Nothing of the claim is in the transaction.
    EXPECT_EQ(txn.entries(b->dbs().claims).value_or(99), 0u) << k.context;
    EXPECT_EQ(txn.entries(b->dbs().entity_claims_idx).value_or(99), 0u) << k.context;
  }
}

TEST_F(ClaimWriteTest, TwoBackendsOnOneDirectoryNeverShareANumber) {
  auto first = open(dir_);
  auto second = open(dir_);  // shares the environment, with its own in-memory next_seq
  ASSERT_TRUE(first->insert_claim(make("c1", "a", "p", "b")));
  ASSERT_TRUE(second->insert_claim(make("c2", "a", "p", "b")));
  ASSERT_EQ(first->insert_claims_batch({make("c3", "a", "p", "b"), make("c4", "a", "p", "b")}), 2u);
  ASSERT_EQ(second->insert_claims_batch({make("c5", "a", "p", "b")}), 1u);
  EXPECT_EQ(dump(*first, first->dbs().claim_id_idx),
            (Entries{{"c1", seq(0)}, {"c2", seq(1)}, {"c3", seq(2)}, {"c4", seq(3)}, {"c5", seq(4)}}));
  EXPECT_EQ(dump(*first, first->dbs().claims).size(), 5u);
}

TEST_F(ClaimWriteTest, BatchesLargerThanOneChunkCommitEveryChunk) {
  auto b = open(dir_);
  b->set_bulk_load_mode(true);
  std::vector<Claim> claims;
  for (int i = 0; i < 100003; ++i) claims.push_back(make("c" + std::to_string(i), "a", "p", "b"));
  EXPECT_EQ(b->insert_claims_batch(std::move(claims)), 100003u);
  EXPECT_EQ(b->next_seq(), 100003u);
  EXPECT_EQ(b->count_claims(), 100003u);
  auto last = b->get_claim("c100002");
  ASSERT_TRUE(last.has_value());
  EXPECT_EQ(dump(*b, b->dbs().claim_id_idx).size(), 100003u);
}

}  // namespace
