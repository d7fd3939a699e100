// Stored value encodings of the persistent store.
//
// Record encoding (every structured record):
//
//   u64 / i64   := 8 bytes little-endian (two's complement for i64)
//   f64         := IEEE-754 binary64, 8 bytes little-endian
//   enum        := variant number as u32le (only ClaimStatus occurs)
//   string      := len:u64le bytes[len]            (UTF-8, no terminator)
//   optional<T> := 0x00 | 0x01 T
//   list<T>     := count:u64le T*
//   set<string> := count:u64le string*
//   map<K,V>    := count:u64le (K V)*
//   json        := string                          (compact text, sorted keys)
//
// Records are their fields in declaration order, nested records inline, with
// no header or padding. Bytes after the last field are ignored.
//
//   claim       := claim_id content_id entity_ref predicate_ref entity_ref
//                  confidence:f64 provenance embedding:optional<list<f64>>
//                  payload:optional<(schema_ref json)> timestamp:i64
//                  status:enum namespace expires_at:i64
//   entity_ref  := id entity_type display_name external_ids:map<string,string>
//   predicate_ref := id predicate_type
//   provenance  := source_type source_id method:optional<string> chain:list<string>
//                  model_version organization project agent_id source_version
//                  (each optional<string>) labels:map<string,string>
//   legacy_provenance := source_type source_id method chain model_version organization
//   legacy_prov_claim := claim with legacy_provenance in place of provenance
//   legacy_claim      := legacy_prov_claim without namespace and expires_at
//
// Claim value in `claims`:  0x01 zstd-frame(claim)  |  0x00 claim  |  claim (untagged)
// The writer always produces 0x01 with zstd level 3.
//
// Claim summary, stored uncompressed in `claim_summaries` under the claim's seq:
//
//   summary := claim_id namespace subject_id subject_type object_id
//              object_type predicate_id source_id confidence:f64
//
// 72 bytes of fixed fields plus the eight string lengths.
//
//   entity_data := id entity_type display_name external_ids created_at:i64
//   aliases     := parent:map<string,string> rank:map<string,u64> groups:map<string,set<string>>
//   metadata    := vocabularies:map<string,vocabulary> predicate_constraints:map<string,string>
//                  payload_schemas:map<string,string>
//   vocabulary  := entity_types:list<string> predicate_types:list<string> source_types:list<string>
//
// Plain values: seq and plain counters are u64 big-endian (so byte order is
// numeric order); confidence counters are count:u64le sum:f64le (16 bytes);
// timestamp keys are i64 big-endian two's complement with no sign flip.
#pragma once

#include <array>
#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>

#include "metadata.h"
#include "union_find.h"
#include "zorlet_core/errors.h"
#include "zorlet_core/types.h"

namespace zorlet_store::backend::lmdb::codec {

using zorlet_core::errors::Result;
using zorlet_core::types::Claim;
using zorlet_core::types::EntityData;

// Decode errors are plain texts; callers wrap them with their context phrase.
template <class T>
using Decoded = std::expected<T, std::string>;

struct ClaimSummary {
  std::string claim_id;
  std::string ns;
  std::string subject_id;
  std::string subject_type;
  std::string object_id;
  std::string object_type;
  std::string predicate_id;
  std::string source_id;
  double confidence = 0.0;
  bool operator==(const ClaimSummary&) const = default;
};

// Claims.
std::string encode_claim_record(const Claim& claim);  // uncompressed record bytes
Decoded<Claim> decode_claim_record(std::string_view bytes);
Result<std::string> encode_claim_value(const Claim& claim);  // 0x01 + zstd(record); "zstd compress"
Result<Claim> decompress_claim(std::string_view value);       // contexts per layout fallback

ClaimSummary summary_of(const Claim& claim);
std::string encode_summary(const ClaimSummary& summary);
Decoded<ClaimSummary> decode_summary(std::string_view bytes);

std::string encode_entity(const EntityData& entity);
Decoded<EntityData> decode_entity(std::string_view bytes);

std::string encode_aliases(const union_find::UnionFind& aliases);
Decoded<union_find::UnionFind> decode_aliases(std::string_view bytes);

std::string encode_metadata(const metadata::MetadataStore& metadata);
Decoded<metadata::MetadataStore> decode_metadata(std::string_view bytes);

// Plain values.
std::array<char, 8> seq_key(uint64_t seq);                  // u64 big-endian
std::optional<uint64_t> read_seq(std::string_view bytes);   // needs >= 8 bytes; first 8 read
std::array<char, 8> timestamp_key(int64_t timestamp);        // i64 big-endian
inline std::string_view view(const std::array<char, 8>& a) { return {a.data(), a.size()}; }

std::array<char, 8> encode_count(uint64_t count);            // plain counter, big-endian
std::optional<uint64_t> decode_count(std::string_view bytes);  // < 8 bytes: absent

struct ConfCounter {
  uint64_t count = 0;
  double sum = 0.0;
};
std::array<char, 16> encode_conf(const ConfCounter& c);       // count:u64le sum:f64le
std::optional<ConfCounter> decode_conf(std::string_view bytes);  // < 16 bytes: absent
inline std::string_view view(const std::array<char, 16>& a) { return {a.data(), a.size()}; }

std::array<char, 8> encode_u64_le(uint64_t v);                // "next_seq"
std::array<char, 4> encode_u32_le(uint32_t v);                // "schema_version"

// Well-formed UTF-8 (no overlong forms, no surrogates, nothing above
// U+10FFFF): what "decodes as a string" means for keys and index values.
bool valid_utf8(std::string_view s);

// Longest prefix of at most `max_bytes` that ends on a UTF-8 character boundary.
std::string_view cut_utf8(std::string_view text, size_t max_bytes);

inline constexpr char kSep = '\x1f';
// Text parts joined by 0x1F.
std::string composite(std::string_view a, std::string_view b);
std::string composite(std::string_view a, std::string_view b, std::string_view c);

}  // namespace zorlet_store::backend::lmdb::codec
