// Byte-level contract of the stored record encodings. Expected bytes are built
// by hand, field by field, from the layout grammar in codec.h, so a change in
// width, byte order or field order shows up here.
#include <bit>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>
#include <zstd.h>

#include "backend/lmdb/codec.h"

namespace {

namespace codec = zorlet_store::backend::lmdb::codec;
using zorlet_core::types::Claim;
using zorlet_core::types::ClaimStatus;
using zorlet_core::types::EntityData;
using zorlet_core::types::Payload;

// Appends fields exactly as the grammar spells them.
struct Bytes {
  std::string b;
  Bytes& u8(uint8_t v) {
    b.push_back(static_cast<char>(v));
    return *this;
  }
  Bytes& u32(uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<char>(v >> (8 * i)));
    return *this;
  }
  Bytes& u64(uint64_t v) {
    for (int i = 0; i < 8; ++i) b.push_back(static_cast<char>(v >> (8 * i)));
    return *this;
  }
  Bytes& f64(double d) { return u64(std::bit_cast<uint64_t>(d)); }
  Bytes& str(std::string_view s) {
    u64(s.size());
    b.append(s);
    return *this;
  }
  Bytes& none() { return u8(0); }
  Bytes& some(std::string_view s) { return u8(1).str(s); }
  Bytes& raw(std::string_view s) {
    b.append(s);
    return *this;
  }
};

std::string zstd(std::string_view record) {
  std::string out(ZSTD_compressBound(record.size()), '\0');
  size_t n = ZSTD_compress(out.data(), out.size(), record.data(), record.size(), 3);
  EXPECT_FALSE(ZSTD_isError(n));
  out.resize(n);
  return out;
}

std::string unzstd(std::string_view frame) {
  unsigned long long size = ZSTD_getFrameContentSize(frame.data(), frame.size());
  EXPECT_NE(size, ZSTD_CONTENTSIZE_ERROR);
  EXPECT_NE(size, ZSTD_CONTENTSIZE_UNKNOWN);
  std::string out(size, '\0');
  size_t n = ZSTD_decompress(out.data(), out.size(), frame.data(), frame.size());
  EXPECT_FALSE(ZSTD_isError(n));
  out.resize(n);
  return out;
}

// Claim c1: a and b are genes, every optional absent, all collections empty.
Claim minimal_claim() {
  Claim c;
  c.claim_id = "c1";
  c.content_id = "k";
  c.subject = {"a", "gene", "", {}};
  c.predicate = {"p", "t"};
  c.object = {"b", "gene", "", {}};
  c.confidence = 0.5;
  c.provenance.source_type = "paper";
  c.provenance.source_id = "s";
  c.timestamp = 7;
  return c;
}

// Fields 1-6 of minimal_claim, shared by every layout.
Bytes minimal_head() {
  Bytes b;
  b.str("c1").str("k");
  b.str("a").str("gene").str("").u64(0);
  b.str("p").str("t");
  b.str("b").str("gene").str("").u64(0);
  b.f64(0.5);
  return b;
}

std::string minimal_record() {
  Bytes b = minimal_head();
  b.str("paper").str("s").none().u64(0).none().none().none().none().none().u64(0);  // provenance
  b.none().none();                                                                  // embedding, payload
  b.u64(7).u32(0).str("").u64(0);
  return b.b;
}

Claim full_claim() {
  Claim c;
  c.claim_id = "claim-é";
  c.content_id = "content";
  c.subject = {"TP53", "gene", "Tumour protein", {{"hgnc", "11998"}, {"uniprot", "P04637"}}};
  c.predicate = {"inhibits", "causal"};
  c.object = {"MDM2", "protein", "", {{"ncbi", "4193"}}};
  c.confidence = 0.875;
  auto& p = c.provenance;
  p.source_type = "paper";
  p.source_id = "pmid:1";
  p.method = "nlp";
  p.chain = {"step1", "step2"};
  p.model_version = "v2";
  p.organization = "org";
  p.project = "proj";
  p.agent_id = "agent";
  p.source_version = "sv";
  p.labels = {{"k", "v"}};
  c.embedding = std::vector<double>{1.5, -2.0};
  c.payload = Payload{"schema/1", zorlet_core::json::parse(R"({"b":1,"a":[true,null]})").value()};
  c.timestamp = -3;
  c.status = ClaimStatus::Disputed;
  c.ns = "ns1";
  c.expires_at = 1700000000;
  return c;
}

std::string full_record() {
  Bytes b;
  b.str("claim-é").str("content");
  b.str("TP53").str("gene").str("Tumour protein").u64(2).str("hgnc").str("11998").str("uniprot").str("P04637");
  b.str("inhibits").str("causal");
  b.str("MDM2").str("protein").str("").u64(1).str("ncbi").str("4193");
  b.f64(0.875);
  b.str("paper").str("pmid:1").some("nlp").u64(2).str("step1").str("step2");
  b.some("v2").some("org").some("proj").some("agent").some("sv").u64(1).str("k").str("v");
  b.u8(1).u64(2).f64(1.5).f64(-2.0);
  b.u8(1).str("schema/1").str(R"({"a":[true,null],"b":1})");
  b.u64(static_cast<uint64_t>(int64_t{-3})).u32(6).str("ns1").u64(1700000000);
  return b.b;
}

// ---------------------------------------------------------------- claim layout

TEST(ClaimRecord, MinimalClaimHasExactBytes) {
  EXPECT_EQ(codec::encode_claim_record(minimal_claim()), minimal_record());
  auto decoded = codec::decode_claim_record(minimal_record());
  ASSERT_TRUE(decoded.has_value()) << decoded.error();
  EXPECT_EQ(*decoded, minimal_claim());
}

TEST(ClaimRecord, FullyPopulatedClaimHasExactBytes) {
  EXPECT_EQ(codec::encode_claim_record(full_claim()), full_record());
  auto decoded = codec::decode_claim_record(full_record());
  ASSERT_TRUE(decoded.has_value()) << decoded.error();
  EXPECT_EQ(*decoded, full_claim());
}

TEST(ClaimRecord, TrailingBytesAreIgnored) {
  auto decoded = codec::decode_claim_record(minimal_record() + "extra");
  ASSERT_TRUE(decoded.has_value()) << decoded.error();
  EXPECT_EQ(*decoded, minimal_claim());
}

// ---------------------------------------------------------------- claim value envelope

TEST(ClaimValue, WriterProducesTagOneAndOneZstdFrameOfTheRecord) {
  for (const Claim& c : {minimal_claim(), full_claim()}) {
    auto value = codec::encode_claim_value(c);
    ASSERT_TRUE(value.has_value());
    ASSERT_GT(value->size(), 1u);
    EXPECT_EQ((*value)[0], '\x01');
    std::string_view frame = std::string_view(*value).substr(1);
    EXPECT_EQ(ZSTD_findFrameCompressedSize(frame.data(), frame.size()), frame.size());
    EXPECT_EQ(unzstd(frame), codec::encode_claim_record(c));
    auto back = codec::decompress_claim(*value);
    ASSERT_TRUE(back.has_value()) << back.error().display();
    EXPECT_EQ(*back, c);
  }
}

TEST(ClaimValue, ReaderAcceptsEveryEnvelope) {
  const std::string record = full_record();
  const std::string half1 = record.substr(0, record.size() / 2), half2 = record.substr(record.size() / 2);
  struct Case {
    const char* name;
    std::string value;
  };
  const Case cases[] = {
      {"tag 1, one frame", "\x01" + zstd(record)},
      {"tag 1, two concatenated frames", "\x01" + zstd(half1) + zstd(half2)},
      {"tag 0, raw record", std::string(1, '\0') + record},
      {"untagged record (claim_id length 7)", record},
  };
  for (const auto& c : cases) {
    auto claim = codec::decompress_claim(c.value);
    ASSERT_TRUE(claim.has_value()) << c.name << ": " << claim.error().display();
    EXPECT_EQ(*claim, full_claim()) << c.name;
  }
}

TEST(ClaimValue, UntaggedRecordDecodesWhenClaimIdLengthIsNotZeroOrOneModulo256) {
  for (size_t len : {2u, 255u, 258u, 511u}) {
    Claim c = minimal_claim();
    c.claim_id = std::string(len, 'x');
    std::string record = codec::encode_claim_record(c);
    ASSERT_EQ(static_cast<uint8_t>(record[0]), len % 256);
    auto back = codec::decompress_claim(record);
    ASSERT_TRUE(back.has_value()) << len << ": " << back.error().display();
    EXPECT_EQ(*back, c);
  }
}

TEST(ClaimValue, UntaggedRecordWhoseFirstByteIsATagIsReadAsTagged) {
  // claim_id length 257: first byte 0x01, so the rest is taken for a zstd frame.
  Claim c = minimal_claim();
  c.claim_id = std::string(257, 'x');
  auto back = codec::decompress_claim(codec::encode_claim_record(c));
  ASSERT_FALSE(back.has_value());
  EXPECT_TRUE(back.error().payload().starts_with("zstd decompress: ")) << back.error().payload();
}

// ---------------------------------------------------------------- older layouts

TEST(ClaimValue, LegacyLayoutsDecodeWithDefaultsForMissingFields) {
  Bytes legacy_prov = minimal_head();
  legacy_prov.str("paper").str("s").some("m").u64(1).str("x").some("mv").some("o");  // 6-field provenance
  legacy_prov.none().none().u64(7).u32(1);
  Bytes legacy = legacy_prov;
  legacy_prov.str("ns9").u64(99);

  Claim expected = minimal_claim();
  expected.status = ClaimStatus::Archived;
  expected.provenance.method = "m";
  expected.provenance.chain = {"x"};
  expected.provenance.model_version = "mv";
  expected.provenance.organization = "o";
  Claim expected_prov = expected;
  expected_prov.ns = "ns9";
  expected_prov.expires_at = 99;

  struct Case {
    const char* name;
    std::string value;
    const Claim& want;
  };
  const Case cases[] = {
      {"LegacyProvClaim, tag 0", std::string(1, '\0') + legacy_prov.b, expected_prov},
      {"LegacyProvClaim, zstd", "\x01" + zstd(legacy_prov.b), expected_prov},
      {"LegacyProvClaim, untagged", legacy_prov.b, expected_prov},
      {"LegacyClaim, tag 0", std::string(1, '\0') + legacy.b, expected},
      {"LegacyClaim, zstd", "\x01" + zstd(legacy.b), expected},
      {"LegacyClaim, untagged", legacy.b, expected},
  };
  for (const auto& c : cases) {
    auto claim = codec::decompress_claim(c.value);
    ASSERT_TRUE(claim.has_value()) << c.name << ": " << claim.error().display();
    EXPECT_EQ(*claim, c.want) << c.name;
    EXPECT_FALSE(claim->provenance.project || claim->provenance.agent_id || claim->provenance.source_version);
    EXPECT_TRUE(claim->provenance.labels.empty());
  }
  // The current-layout reader alone refuses both.
  EXPECT_FALSE(codec::decode_claim_record(legacy_prov.b).has_value());
  EXPECT_FALSE(codec::decode_claim_record(legacy.b).has_value());
}

// ---------------------------------------------------------------- decode failures

// Replaces the byte range [at, at + n) of `s` with `with`.
std::string splice(std::string s, size_t at, size_t n, std::string_view with) {
  return s.replace(at, n, with);
}

// Offsets into minimal_record().
constexpr size_t kClaimIdBytes = 8;                                    // after claim_id's length
constexpr size_t kMethodTag = 141;
constexpr size_t kStatusOffset = 173;

TEST(ClaimValue, OffsetsUsedByTheFailureCasesPointAtTheirFields) {
  const std::string r = minimal_record();
  EXPECT_EQ(r.substr(kClaimIdBytes, 2), "c1");
  // Provenance starts with "paper" then "s"; the method tag follows.
  EXPECT_EQ(r.substr(kMethodTag - 14, 5), "paper");
  EXPECT_EQ(r[kMethodTag], '\0');
  EXPECT_EQ(r.size(), kStatusOffset + 4 + 8 + 8);
  EXPECT_EQ(r.substr(kStatusOffset - 8, 8), Bytes().u64(7).b);  // timestamp precedes the status
}

// Damaged bodies: the current-layout reader names the damage; the value
// reader, after both older layouts also failed, reports the fallback context
// with the error of the LegacyClaim attempt.
TEST(ClaimValue, EachDamagedBodyFailsInEveryLayout) {
  const std::string r = minimal_record();
  Bytes bad_json = minimal_head();
  bad_json.str("paper").str("s").none().u64(0).none().none().none().none().none().u64(0);
  bad_json.none().u8(1).str("schema").str("{\"a\":").u64(7).u32(0).str("").u64(0);
  Bytes huge_list = minimal_head();
  huge_list.str("paper").str("s").none().u64(uint64_t{1} << 61);
  Bytes huge_embedding = minimal_head();
  huge_embedding.str("paper").str("s").none().u64(0).none().none().none().none().none().u64(0);
  huge_embedding.u8(1).u64(~uint64_t{0});
  struct Case {
    const char* name;
    std::string body;
    std::string detail;  // substring of the current-layout error
  };
  const Case cases[] = {
      {"empty body", "", "unexpected end of input"},
      {"truncated record", r.substr(0, r.size() - 3), "unexpected end of input"},
      {"bad UTF-8", splice(r, kClaimIdBytes, 2, "\xc3\x28"), "invalid UTF-8"},
      {"option tag 2", splice(r, kMethodTag, 1, "\x02"), "invalid option tag 2"},
      {"status 7", splice(r, kStatusOffset, 4, Bytes().u32(7).b), "invalid ClaimStatus value 7, expected 0 to 6"},
      {"bad JSON text", bad_json.b, "not valid JSON"},
      {"huge string length", Bytes().u64(~uint64_t{0}).b, "exceeds the 0 remaining bytes"},
      {"huge list count", huge_list.b, "cannot fit"},
      {"huge embedding count", huge_embedding.b, "cannot fit"},
  };
  for (const auto& c : cases) {
    auto current = codec::decode_claim_record(c.body);
    ASSERT_FALSE(current.has_value()) << c.name;
    EXPECT_NE(current.error().find(c.detail), std::string::npos) << c.name << ": " << current.error();

    auto claim = codec::decompress_claim(std::string(1, '\0') + c.body);
    ASSERT_FALSE(claim.has_value()) << c.name;
    EXPECT_EQ(claim.error().kind(), zorlet_core::errors::ErrorKind::Provenance) << c.name;
    EXPECT_TRUE(claim.error().payload().starts_with("deserialize claim (legacy fallback): "))
        << c.name << ": " << claim.error().payload();
  }
}

TEST(ClaimValue, EnvelopeFailuresHaveTheirOwnContexts) {
  struct Case {
    const char* name;
    std::string value;
    std::string message;  // whole display text, or its prefix when ending in ": "
  };
  const Case cases[] = {
      {"empty value", "", "ProvenanceError: decompress: empty claim data"},
      // A lone tag 0 is an empty body: the LegacyClaim attempt runs out of input.
      {"lone 0x00", std::string(1, '\0'), "ProvenanceError: deserialize claim (legacy fallback): unexpected end of input"},
      {"not a zstd frame", "\x01garbage", "ProvenanceError: zstd decompress: "},
      {"truncated zstd frame", "\x01" + zstd(minimal_record()).substr(0, 10), "ProvenanceError: zstd decompress: "},
  };
  for (const auto& c : cases) {
    auto claim = codec::decompress_claim(c.value);
    ASSERT_FALSE(claim.has_value()) << c.name;
    std::string text = claim.error().display();
    EXPECT_TRUE(text.starts_with(c.message)) << c.name << ": " << text;
    if (c.message.ends_with(": ")) {
      EXPECT_GT(text.size(), c.message.size()) << c.name << ": detail missing";
    }
  }
}

TEST(ClaimValue, EveryStrictPrefixOfARecordFailsToDecode) {
  const std::string r = full_record();
  for (size_t n = 0; n < r.size(); ++n) ASSERT_FALSE(codec::decode_claim_record(r.substr(0, n)).has_value()) << n;
}

TEST(ClaimValue, FrameAnnouncingAHugeSizeFailsWithoutTrustingIt) {
  // A frame header claiming 2^40 bytes of content followed by one 3-byte raw
  // block: the reader must report damage, not try to allocate a terabyte.
  Bytes frame;
  frame.u32(0xFD2FB528);  // magic
  frame.u8(0xE0);         // FCS field 8 bytes, single segment
  frame.u64(uint64_t{1} << 40);
  frame.u8(0x19).u8(0x00).u8(0x00).raw("abc");  // last raw block of 3 bytes
  auto claim = codec::decompress_claim("\x01" + frame.b);
  ASSERT_FALSE(claim.has_value());
  EXPECT_TRUE(claim.error().payload().starts_with("zstd decompress: ")) << claim.error().payload();
}

// ---------------------------------------------------------------- payload JSON

TEST(PayloadJson, TextIsCompactSortedAndKeepsNumberKinds) {
  struct Case {
    std::string in, out;
  };
  const Case cases[] = {
      {R"({"b":1,"a":[true,null]})", R"({"a":[true,null],"b":1})"},
      {"18446744073709551615", "18446744073709551615"},  // 2^64-1 stays an integer
      {"18446744073709551616", "1.8446744073709552e+19"},  // 2^64 becomes a float
      {"-9223372036854775808", "-9223372036854775808"},
      {" { \"z\" : { \"y\":2, \"x\":\"é\" } } ", R"({"z":{"x":"é","y":2}})"},
  };
  for (const auto& c : cases) {
    Claim claim = minimal_claim();
    claim.payload = Payload{"s", zorlet_core::json::parse(c.in).value()};
    std::string record = codec::encode_claim_record(claim);
    EXPECT_NE(record.find(Bytes().str(c.out).b), std::string::npos) << c.in;
    auto back = codec::decompress_claim(codec::encode_claim_value(claim).value());
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(zorlet_core::json::to_text(back->payload->data), c.out) << c.in;
  }
  auto big = zorlet_core::json::parse("18446744073709551615").value();
  EXPECT_TRUE(big.is_number_unsigned());
  EXPECT_TRUE(zorlet_core::json::parse("18446744073709551616").value().is_number_float());
  EXPECT_TRUE(zorlet_core::json::parse("-1").value().is_number_integer());
  EXPECT_FALSE(zorlet_core::json::parse("-1").value().is_number_unsigned());
}

TEST(PayloadJson, ParseErrorNamesLineAndColumn) {
  auto r = zorlet_core::json::parse("{\n\"a\": }");
  ASSERT_FALSE(r.has_value());
  EXPECT_NE(r.error().find("line 2"), std::string::npos) << r.error();
  EXPECT_NE(r.error().find("column"), std::string::npos) << r.error();
}

// The JSON reader and writer recurse per level: nesting is bounded on both
// sides so that a damaged store cannot exhaust the stack and every written
// claim reads back.
TEST(PayloadJson, NestingIsBoundedOnReadAndWrite) {
  auto nested = [](size_t depth) { return std::string(depth, '[') + std::string(depth, ']'); };
  auto with_text = [](const std::string& text) {
    Bytes b = minimal_head();
    b.str("paper").str("s").none().u64(0).none().none().none().none().none().u64(0);
    b.none().u8(1).str("schema").str(text).u64(7).u32(0).str("").u64(0);
    return b.b;
  };
  struct Case {
    std::string text;
    bool decodes;
  };
  const Case cases[] = {
      {nested(2048), true},
      {nested(2049), false},
      {nested(200000), false},  // would overflow the stack if parsed
      {"\"" + std::string(5000, '[') + "\"", true},  // brackets inside a string do not nest
      {"[\"\\\"\", " + nested(2048) + "]", false},  // an escaped quote does not end the string early
  };
  for (const auto& c : cases) {
    auto decoded = codec::decode_claim_record(with_text(c.text));
    EXPECT_EQ(decoded.has_value(), c.decodes) << c.text.substr(0, 20) << " (" << c.text.size() << " bytes)";
    if (!c.decodes) {
      EXPECT_NE(decoded.error().find("nests deeper than 2048"), std::string::npos) << decoded.error();
    }
  }

  Claim claim = minimal_claim();
  claim.payload = Payload{"s", zorlet_core::json::parse(nested(2048)).value()};
  auto ok = codec::encode_claim_value(claim);
  ASSERT_TRUE(ok.has_value());
  EXPECT_EQ(codec::decompress_claim(*ok).value(), claim);
  claim.payload->data = zorlet_core::json::Json::array({claim.payload->data});
  auto refused = codec::encode_claim_value(claim);
  ASSERT_FALSE(refused.has_value());
  EXPECT_EQ(refused.error().display(), "ProvenanceError: serialize claim: payload data nests deeper than 2048 levels");
}

// ---------------------------------------------------------------- summaries

TEST(Summary, ExampleEncodesToExactly86Bytes) {
  Claim c = minimal_claim();
  c.provenance.source_id = "s";
  codec::ClaimSummary s = codec::summary_of(c);
  EXPECT_EQ(s, (codec::ClaimSummary{"c1", "", "a", "gene", "b", "gene", "p", "s", 0.5}));
  const std::string expected =
      std::string("\x02\0\0\0\0\0\0\0c1", 10) + std::string(8, '\0') + std::string("\x01\0\0\0\0\0\0\0a", 9) +
      std::string("\x04\0\0\0\0\0\0\0gene", 12) + std::string("\x01\0\0\0\0\0\0\0b", 9) +
      std::string("\x04\0\0\0\0\0\0\0gene", 12) + std::string("\x01\0\0\0\0\0\0\0p", 9) +
      std::string("\x01\0\0\0\0\0\0\0s", 9) + std::string("\0\0\0\0\0\0\xe0\x3f", 8);
  ASSERT_EQ(expected.size(), 86u);
  EXPECT_EQ(codec::encode_summary(s), expected);
  auto back = codec::decode_summary(expected);
  ASSERT_TRUE(back.has_value()) << back.error();
  EXPECT_EQ(*back, s);
}

TEST(Summary, DamagedBytesFail) {
  const std::string good = codec::encode_summary({"c1", "", "a", "gene", "b", "gene", "p", "s", 0.5});
  EXPECT_FALSE(codec::decode_summary(good.substr(0, 85)).has_value());
  EXPECT_FALSE(codec::decode_summary(splice(good, 8, 2, "\xff\xfe")).has_value());
  EXPECT_FALSE(codec::decode_summary(Bytes().u64(uint64_t{1} << 62).b).has_value());
}

// ---------------------------------------------------------------- entities

TEST(EntityRecord, HasExactBytesAndRoundTrips) {
  EntityData e{"TP53", "gene", "p53", {{"hgnc", "11998"}, {"a", ""}}, -42};
  const std::string expected =
      Bytes().str("TP53").str("gene").str("p53").u64(2).str("a").str("").str("hgnc").str("11998").u64(
          static_cast<uint64_t>(int64_t{-42})).b;
  EXPECT_EQ(codec::encode_entity(e), expected);
  auto back = codec::decode_entity(expected);
  ASSERT_TRUE(back.has_value()) << back.error();
  EXPECT_EQ(*back, e);
  for (size_t n = 0; n < expected.size(); ++n) EXPECT_FALSE(codec::decode_entity(expected.substr(0, n))) << n;
  EXPECT_FALSE(codec::decode_entity(Bytes().str("a").str("b").str("c").u64(~uint64_t{0}).b));
}

// ---------------------------------------------------------------- meta blobs

TEST(AliasBlob, DecodesHandBuiltBytesAndRoundTrips) {
  // parent {a->b}, rank {b->1}, groups {b->{a,b}}
  const std::string blob = Bytes().u64(1).str("a").str("b").u64(1).str("b").u64(1).u64(1).str("b").u64(2).str("a").str("b").b;
  auto uf = codec::decode_aliases(blob);
  ASSERT_TRUE(uf.has_value()) << uf.error();
  EXPECT_EQ(uf->parent, (std::unordered_map<std::string, std::string>{{"a", "b"}}));
  EXPECT_EQ(uf->rank, (std::unordered_map<std::string, uint64_t>{{"b", 1}}));
  EXPECT_EQ(uf->groups, (std::unordered_map<std::string, zorlet_store::union_find::StringSet>{{"b", {"a", "b"}}}));
  std::string again = codec::encode_aliases(*uf);
  EXPECT_EQ(again.size(), blob.size());
  auto back = codec::decode_aliases(again);
  ASSERT_TRUE(back.has_value());
  EXPECT_EQ(back->parent, uf->parent);
  EXPECT_EQ(back->rank, uf->rank);
  EXPECT_EQ(back->groups, uf->groups);

  EXPECT_EQ(codec::encode_aliases({}), std::string(24, '\0'));
  for (size_t n = 0; n < blob.size(); ++n) EXPECT_FALSE(codec::decode_aliases(blob.substr(0, n))) << n;
}

TEST(AliasBlob, RefusesDamage) {
  struct Case {
    const char* name;
    std::string blob;
  };
  const Case cases[] = {
      {"huge parent count", Bytes().u64(~uint64_t{0}).b},
      {"huge rank count", Bytes().u64(0).u64(uint64_t{1} << 60).b},
      {"huge member count", Bytes().u64(0).u64(0).u64(1).str("r").u64(uint64_t{1} << 59).b},
      {"bad UTF-8 key", Bytes().u64(1).str("\xff").str("b").u64(0).u64(0).b},
      // A parent cycle would make every later lookup loop forever.
      {"parent cycle", Bytes().u64(3).str("a").str("b").str("b").str("c").str("c").str("a").u64(0).u64(0).b},
  };
  for (const auto& c : cases) EXPECT_FALSE(codec::decode_aliases(c.blob).has_value()) << c.name;
  // A self-parent ends a chain and is accepted.
  EXPECT_TRUE(codec::decode_aliases(Bytes().u64(2).str("a").str("b").str("b").str("b").u64(0).u64(0).b));
}

TEST(MetadataBlob, HasExactBytesAndRoundTrips) {
  zorlet_store::metadata::MetadataStore m;
  m.register_vocabulary("ns", {{"gene", "gene"}, {}, {"paper"}});
  m.register_predicate("inhibits", zorlet_core::json::parse(R"({"z": 1, "a": "x"})").value());
  m.register_payload_schema("s1", zorlet_core::json::parse("[1, 2]").value());
  const std::string expected = Bytes()
                                   .u64(1)
                                   .str("ns")
                                   .u64(2)
                                   .str("gene")
                                   .str("gene")
                                   .u64(0)
                                   .u64(1)
                                   .str("paper")
                                   .u64(1)
                                   .str("inhibits")
                                   .str(R"({"a":"x","z":1})")
                                   .u64(1)
                                   .str("s1")
                                   .str("[1,2]")
                                   .b;
  EXPECT_EQ(codec::encode_metadata(m), expected);
  auto back = codec::decode_metadata(expected);
  ASSERT_TRUE(back.has_value()) << back.error();
  EXPECT_EQ(back->vocabularies, m.vocabularies);
  EXPECT_EQ(back->predicate_constraints, m.predicate_constraints);
  EXPECT_EQ(back->payload_schemas, m.payload_schemas);

  EXPECT_EQ(codec::encode_metadata({}), std::string(24, '\0'));
  for (size_t n = 0; n < expected.size(); ++n) EXPECT_FALSE(codec::decode_metadata(expected.substr(0, n))) << n;
  EXPECT_FALSE(codec::decode_metadata(Bytes().u64(uint64_t{1} << 58).b));
  EXPECT_FALSE(codec::decode_metadata(Bytes().u64(0).u64(1).str("p").str("\xed\xa0\x80").u64(0).b));  // surrogate
}

// ---------------------------------------------------------------- plain values

TEST(PlainValues, ByteOrders) {
  EXPECT_EQ(codec::view(codec::seq_key(0x0102030405060708)), "\x01\x02\x03\x04\x05\x06\x07\x08");
  EXPECT_EQ(codec::read_seq("\x01\x02\x03\x04\x05\x06\x07\x08\x09"), 0x0102030405060708u);
  EXPECT_FALSE(codec::read_seq("\x01\x02\x03"));
  EXPECT_TRUE(codec::seq_key(255) < codec::seq_key(256));  // byte order is numeric order
  EXPECT_EQ(codec::view(codec::timestamp_key(-1)), std::string(8, '\xff'));
  EXPECT_EQ(codec::view(codec::encode_count(1)), std::string("\0\0\0\0\0\0\0\x01", 8));
  EXPECT_EQ(codec::decode_count(std::string("\0\0\0\0\0\0\x01\x00", 8)), 256u);
  auto u64 = codec::encode_u64_le(1);
  EXPECT_EQ(std::string_view(u64.data(), 8), std::string_view("\x01\0\0\0\0\0\0\0", 8));
  auto u32 = codec::encode_u32_le(4);
  EXPECT_EQ(std::string_view(u32.data(), 4), std::string_view("\x04\0\0\0", 4));

  EXPECT_EQ(codec::view(codec::encode_conf({3, 0.5})), Bytes().u64(3).f64(0.5).b);
  auto conf = codec::decode_conf(Bytes().u64(3).f64(1.25).b);
  ASSERT_TRUE(conf);
  EXPECT_EQ(conf->count, 3u);
  EXPECT_EQ(conf->sum, 1.25);
  EXPECT_FALSE(codec::decode_conf(std::string(15, '\0')));
}

TEST(PlainValues, CutAndComposite) {
  EXPECT_EQ(codec::cut_utf8("abc", 5), "abc");
  EXPECT_EQ(codec::cut_utf8("abé", 3), "ab");  // é is 2 bytes: never split it
  EXPECT_EQ(codec::cut_utf8("abé", 4), "abé");
  EXPECT_EQ(codec::cut_utf8("a\xf0\x9f\x98\x80", 4), "a");
  EXPECT_EQ(codec::composite("a", "b"), "a\x1f"
                                        "b");
  EXPECT_EQ(codec::composite("p", "", "o"), "p\x1f\x1fo");
}

}  // namespace
