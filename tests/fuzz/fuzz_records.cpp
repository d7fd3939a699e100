// Summaries, entity records and the alias and metadata blobs: decoding never
// crashes, and a decoded record encodes to bytes that decode to it again.
// The first input byte picks the decoder.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "backend/lmdb/codec.h"

using namespace zorlet_store::backend::lmdb::codec;

namespace {

template <class Decode, class Encode>
void round_trip(std::string_view bytes, Decode decode, Encode encode) {
  auto first = decode(bytes);
  if (!first) return;
  std::string encoded = encode(*first);
  auto second = decode(encoded);
  if (!second || encode(*second) .size() != encoded.size()) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  switch (data[0] % 5) {
    case 0:
      round_trip(bytes, decode_summary, encode_summary);
      break;
    case 1:
      round_trip(bytes, decode_entity, encode_entity);
      break;
    case 2:
      round_trip(bytes, decode_aliases, encode_aliases);
      break;
    case 3:
      round_trip(bytes, decode_metadata, encode_metadata);
      break;
    case 4: {
      auto claim = decode_claim_record(bytes);
      if (claim && !decode_claim_record(encode_claim_record(*claim))) std::abort();
      break;
    }
  }
  return 0;
}
