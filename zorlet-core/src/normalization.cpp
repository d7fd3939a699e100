// Canonical form of entity ids, built on ICU's Unicode data.
//
//   normalize(text) := greek(join(" ", split_white_space(lower(strip_format(nfkd(text))))))
//
// Lookups normalise every id they are given, so pure-ASCII text, by far the
// common case, takes a path that never leaves ASCII: NFKD leaves ASCII alone,
// none of the removed format characters is ASCII, the full lower-case mapping
// of ASCII is A-Z -> a-z (the final-sigma and dotted-I rules need non-ASCII
// letters), the ASCII White_Space characters are \t \n \v \f \r and space
// (U+001C..U+001F are not White_Space), and no Greek letter is ASCII.
#include "zorlet_core/normalization.h"

#include <algorithm>
#include <array>
#include <string_view>

#include <unicode/locid.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

namespace zorlet_core::normalization {

namespace {

// The format characters that are removed. A fixed list: it does not follow
// whatever a newer Unicode version puts in category Cf, so that an id keeps
// its canonical form across library upgrades. 170 code points.
struct Range {
  UChar32 first, last;
};
constexpr std::array<Range, 20> kFormatRanges = {{
    {0x00AD, 0x00AD},   {0x0600, 0x0605},   {0x061C, 0x061C},   {0x06DD, 0x06DD},   {0x070F, 0x070F},
    {0x0890, 0x0891},   {0x08E2, 0x08E2},   {0x180E, 0x180E},   {0x200B, 0x200F},   {0x202A, 0x202E},
    {0x2060, 0x2064},   {0x2066, 0x206F},   {0xFEFF, 0xFEFF},   {0xFFF9, 0xFFFB},   {0x110BD, 0x110BD},
    {0x110CD, 0x110CD}, {0x13430, 0x1343F}, {0x1BCA0, 0x1BCA3}, {0x1D173, 0x1D17A}, {0xE0001, 0xE0001},
}};
constexpr Range kTagRange = {0xE0020, 0xE007F};

constexpr size_t format_count() {
  size_t n = kTagRange.last - kTagRange.first + 1;
  for (const auto& r : kFormatRanges) n += r.last - r.first + 1;
  return n;
}
static_assert(format_count() == 170);

bool is_removed_format(UChar32 c) {
  if (c < 0x00AD) return false;
  if (c >= kTagRange.first && c <= kTagRange.last) return true;
  return std::any_of(kFormatRanges.begin(), kFormatRanges.end(),
                     [c](const Range& r) { return c >= r.first && c <= r.last; });
}

// The ten Greek letters spelled out, applied after lower-casing. The names are
// ASCII, so replacing all ten in one pass equals replacing them one by one.
std::string_view greek_name(UChar32 c) {
  switch (c) {
    case 0x03B1: return "alpha";
    case 0x03B2: return "beta";
    case 0x03B3: return "gamma";
    case 0x03B4: return "delta";
    case 0x03B5: return "epsilon";
    case 0x03BA: return "kappa";
    case 0x03BB: return "lambda";
    case 0x03BC: return "mu";
    case 0x03C4: return "tau";
    case 0x03C9: return "omega";
    default: return {};
  }
}

bool is_ascii(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

char ascii_lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c; }

bool is_ascii_white_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

std::string normalize_ascii(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  bool pending_space = false;
  for (char c : text) {
    if (is_ascii_white_space(c)) {
      pending_space = !out.empty();
      continue;
    }
    if (pending_space) out.push_back(' ');
    pending_space = false;
    out.push_back(ascii_lower(c));
  }
  return out;
}

void append_utf8(std::string& out, UChar32 c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

icu::UnicodeString from_utf8(std::string_view text) {
  return icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
}

std::string normalize_unicode(std::string_view text) {
  UErrorCode status = U_ZERO_ERROR;
  const icu::Normalizer2* nfkd = icu::Normalizer2::getNFKDInstance(status);
  icu::UnicodeString source = from_utf8(text);
  icu::UnicodeString decomposed;
  if (U_SUCCESS(status)) decomposed = nfkd->normalize(source, status);
  if (U_FAILURE(status)) decomposed = std::move(source);  // ICU data missing: keep the text undecomposed

  icu::UnicodeString kept;
  for (int32_t i = 0; i < decomposed.length();) {
    UChar32 c = decomposed.char32At(i);
    if (!is_removed_format(c)) kept.append(c);
    i += U16_LENGTH(c);
  }
  // Whole-string lower-casing: final sigma depends on the neighbouring letters.
  kept.toLower(icu::Locale::getRoot());

  std::string out;
  out.reserve(text.size() + 8);
  bool pending_space = false;
  for (int32_t i = 0; i < kept.length();) {
    UChar32 c = kept.char32At(i);
    i += U16_LENGTH(c);
    if (u_isUWhiteSpace(c)) {
      pending_space = !out.empty();
      continue;
    }
    if (pending_space) out.push_back(' ');
    pending_space = false;
    if (std::string_view name = greek_name(c); !name.empty())
      out.append(name);
    else
      append_utf8(out, c);
  }
  return out;
}

}  // namespace

std::string to_lower_full(std::string_view text) {
  if (is_ascii(text)) {
    std::string out(text);
    for (char& c : out) c = ascii_lower(c);
    return out;
  }
  icu::UnicodeString s = from_utf8(text);
  s.toLower(icu::Locale::getRoot());
  std::string out;
  s.toUTF8String(out);
  return out;
}

std::string normalize_entity_id(std::string_view text) {
  return is_ascii(text) ? normalize_ascii(text) : normalize_unicode(text);
}

}  // namespace zorlet_core::normalization
