// Search tokens: the lower-cased text split at every character that is
// neither Alphabetic nor a number (general category Nd, Nl or No); pieces of
// at least 2 UTF-8 bytes are kept, in order, duplicates included.
//
// ASCII text never needs ICU: its alphanumerics are a-z, A-Z and 0-9, and its
// lower-casing is A-Z -> a-z.
#include <algorithm>

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include "entity_store.h"
#include "zorlet_core/normalization.h"

namespace zorlet_store::entity_store {

namespace {

constexpr size_t kMinTokenBytes = 2;

bool is_alphanumeric(UChar32 c) {
  if (c < 0x80) return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
  if (u_hasBinaryProperty(c, UCHAR_ALPHABETIC)) return true;
  const auto mask = U_GET_GC_MASK(c);
  return (mask & (U_GC_ND_MASK | U_GC_NL_MASK | U_GC_NO_MASK)) != 0;
}

}  // namespace

std::vector<std::string> tokenize(std::string_view text) {
  const std::string lower = zorlet_core::normalization::to_lower_full(text);
  std::vector<std::string> tokens;
  const char* s = lower.data();
  const int32_t length = static_cast<int32_t>(lower.size());
  int32_t start = 0;
  auto close_token = [&](int32_t end) {
    if (static_cast<size_t>(end - start) >= kMinTokenBytes) tokens.emplace_back(s + start, s + end);
  };
  for (int32_t i = 0; i < length;) {
    const int32_t at = i;
    UChar32 c;
    U8_NEXT(s, i, length, c);  // ill-formed bytes give c < 0: a separator
    if (c < 0 || !is_alphanumeric(c)) {
      close_token(at);
      start = i;
    }
  }
  close_token(length);
  return tokens;
}

size_t count_tokens(std::string_view text) {
  if (!std::all_of(text.begin(), text.end(), [](char ch) { return static_cast<unsigned char>(ch) < 0x80; }))
    return tokenize(text).size();
  // ASCII: lower-casing keeps every byte's length and class, so the tokens
  // are the runs of ASCII letters and digits of at least 2 bytes.
  size_t count = 0, run = 0;
  for (char ch : text) {
    if (is_alphanumeric(static_cast<unsigned char>(ch))) {
      ++run;
    } else {
      count += run >= kMinTokenBytes;
      run = 0;
    }
  }
  return count + (run >= kMinTokenBytes);
}

}  // namespace zorlet_store::entity_store
