// Stored claim values of every layout: decoding never crashes, and whatever
// decodes survives a round trip through the writer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "backend/lmdb/codec.h"

using namespace zorlet_store::backend::lmdb::codec;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  auto claim = decompress_claim(bytes);
  if (!claim) return 0;
  auto value = encode_claim_value(*claim);
  if (!value) std::abort();
  auto again = decompress_claim(*value);
  if (!again || encode_claim_record(*again) != encode_claim_record(*claim)) std::abort();
  return 0;
}
