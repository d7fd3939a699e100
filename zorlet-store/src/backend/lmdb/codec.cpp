// Placeholder: being built.
#include "backend/lmdb/codec.h"

#include <cstring>

namespace zorlet_store::backend::lmdb::codec {

std::string encode_claim_record(const Claim&) { return {}; }
Decoded<Claim> decode_claim_record(std::string_view) { return std::unexpected(std::string("unimplemented")); }
Result<std::string> encode_claim_value(const Claim&) { return std::string(); }
Result<Claim> decompress_claim(std::string_view) {
  return zorlet_core::errors::fail("decompress", "unimplemented");
}
ClaimSummary summary_of(const Claim&) { return {}; }
std::string encode_summary(const ClaimSummary&) { return {}; }
Decoded<ClaimSummary> decode_summary(std::string_view) { return std::unexpected(std::string("unimplemented")); }
std::string encode_entity(const EntityData&) { return {}; }
Decoded<EntityData> decode_entity(std::string_view) { return std::unexpected(std::string("unimplemented")); }
std::string encode_aliases(const union_find::UnionFind&) { return {}; }
Decoded<union_find::UnionFind> decode_aliases(std::string_view) { return std::unexpected(std::string("unimplemented")); }
std::string encode_metadata(const metadata::MetadataStore&) { return {}; }
Decoded<metadata::MetadataStore> decode_metadata(std::string_view) { return std::unexpected(std::string("unimplemented")); }

std::array<char, 8> seq_key(uint64_t seq) {
  std::array<char, 8> out;
  for (int i = 7; i >= 0; --i, seq >>= 8) out[i] = static_cast<char>(seq & 0xff);
  return out;
}
std::optional<uint64_t> read_seq(std::string_view bytes) {
  if (bytes.size() < 8) return std::nullopt;
  uint64_t v = 0;
  for (int i = 0; i < 8; ++i) v = (v << 8) | static_cast<uint8_t>(bytes[i]);
  return v;
}
std::array<char, 8> timestamp_key(int64_t ts) { return seq_key(static_cast<uint64_t>(ts)); }
std::array<char, 8> encode_count(uint64_t c) { return seq_key(c); }
std::optional<uint64_t> decode_count(std::string_view b) { return read_seq(b); }
std::array<char, 16> encode_conf(const ConfCounter& c) {
  std::array<char, 16> out;
  std::memcpy(out.data(), &c.count, 8);
  std::memcpy(out.data() + 8, &c.sum, 8);
  return out;
}
std::optional<ConfCounter> decode_conf(std::string_view b) {
  if (b.size() < 16) return std::nullopt;
  ConfCounter c;
  std::memcpy(&c.count, b.data(), 8);
  std::memcpy(&c.sum, b.data() + 8, 8);
  return c;
}
std::array<char, 8> encode_u64_le(uint64_t v) {
  std::array<char, 8> out;
  std::memcpy(out.data(), &v, 8);
  return out;
}
std::array<char, 4> encode_u32_le(uint32_t v) {
  std::array<char, 4> out;
  std::memcpy(out.data(), &v, 4);
  return out;
}
std::string_view cut_utf8(std::string_view text, size_t max_bytes) {
  if (text.size() <= max_bytes) return text;
  size_t n = max_bytes;
  while (n > 0 && (static_cast<uint8_t>(text[n]) & 0xC0) == 0x80) --n;
  return text.substr(0, n);
}
std::string composite(std::string_view a, std::string_view b) {
  std::string out;
  out.reserve(a.size() + b.size() + 1);
  out.append(a).push_back(kSep);
  out.append(b);
  return out;
}
std::string composite(std::string_view a, std::string_view b, std::string_view c) {
  std::string out;
  out.reserve(a.size() + b.size() + c.size() + 2);
  out.append(a).push_back(kSep);
  out.append(b).push_back(kSep);
  out.append(c);
  return out;
}

}  // namespace zorlet_store::backend::lmdb::codec
