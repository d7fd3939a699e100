// Canonical entity ids and search tokens.
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <unicode/uchar.h>

#include "entity_store.h"
#include "zorlet_core/normalization.h"

namespace {

using zorlet_core::normalization::normalize_entity_id;
using zorlet_core::normalization::to_lower_full;
using zorlet_store::entity_store::tokenize;

std::string utf8(char32_t c) {
  std::string out;
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
  return out;
}

TEST(NormalizeEntityId, Examples) {
  struct Case {
    std::string in, out;
  };
  const Case cases[] = {
      {"  TNF-α  ", "tnf-alpha"},
      {"IL\u00A06", "il 6"},  // no-break space decomposes to a space
      {"Ωmega", "omegamega"},
      {"β-Catenin", "beta-catenin"},
      {"Café", "cafe\u0301"},
      {"a\u200Bb", "ab"},
      {"a\u00ADb", "ab"},
      {"\uFB01brin", "fibrin"},
      {"ＡＢＣ", "abc"},
      {" \t\u3000\u200B\u2028 ", ""},
      {"", ""},
      {"\u00B5g", "mug"},        // micro sign
      {"\u03F5-x", "epsilon-x"},  // lunate epsilon
      {"ΑΒΓΔΕΚΛΜΤΩ", "alphabetagammadeltaepsilonkappalambdamutauomega"},
      {"ηθιπ", "ηθιπ"},  // the other letters stay
      {"ΟΔΟΣ ΟΔΟΣ", "οdeltaος οdeltaος"},  // final sigma at the end of each word
      {"ΣΑ", "σalpha"},
      {"\u0130", "i\u0307"},  // dotted capital I
      {"ß-X", "ß-x"},
      {"A_B.c/d", "a_b.c/d"},
      {"a\u0085b\u1680c\u2000d\u205Fe", "a b c d e"},
      {"a\x1c\x1d\x1e\x1f b", "a\x1c\x1d\x1e\x1f b"},  // information separators are not White_Space
      {"\u00C5\u0301x", "a\u030A\u0301x"},               // combining marks stay decomposed
      {"\u1100\u1161", "\u1100\u1161"},
      {"\uAC00", "\u1100\u1161"},  // Hangul syllable decomposed
  };
  for (const auto& c : cases) EXPECT_EQ(normalize_entity_id(c.in), c.out) << c.in;
}

TEST(NormalizeEntityId, RemovesExactlyTheFormatCharacters) {
  const std::vector<std::pair<char32_t, char32_t>> ranges = {
      {0x00AD, 0x00AD},   {0x0600, 0x0605},   {0x061C, 0x061C},   {0x06DD, 0x06DD},   {0x070F, 0x070F},
      {0x0890, 0x0891},   {0x08E2, 0x08E2},   {0x180E, 0x180E},   {0x200B, 0x200F},   {0x202A, 0x202E},
      {0x2060, 0x2064},   {0x2066, 0x206F},   {0xFEFF, 0xFEFF},   {0xFFF9, 0xFFFB},   {0x110BD, 0x110BD},
      {0x110CD, 0x110CD}, {0x13430, 0x1343F}, {0x1BCA0, 0x1BCA3}, {0x1D173, 0x1D17A}, {0xE0001, 0xE0001},
      {0xE0020, 0xE007F},
  };
  size_t removed = 0;
  for (auto [first, last] : ranges) {
    for (char32_t c = first; c <= last; ++c, ++removed)
      EXPECT_EQ(normalize_entity_id("x" + utf8(c) + "y"), "xy") << std::hex << static_cast<uint32_t>(c);
  }
  EXPECT_EQ(removed, 170u);
  // Neighbours of the list, marks and controls are kept.
  for (char32_t c : {U'\u0300', U'\u0606', U'\u2065', U'\uFFFC', U'\U000E0000', U'\U000E0080', U'\x01', U'\x7f'}) {
    std::string s = utf8(c);
    EXPECT_NE(normalize_entity_id("x" + s + "y"), "xy") << std::hex << static_cast<uint32_t>(c);
  }
}

// The ASCII shortcut must agree with the Unicode path. A zero-width space is
// removed by the Unicode path, so appending one forces that path without
// changing the expected result.
TEST(NormalizeEntityId, AsciiShortcutAgreesWithTheUnicodePath) {
  std::vector<std::string> samples = {"  Mixed\tCase \n ID\r\n", "\v\f", "a  b", "ABC_def-123", " ", ""};
  for (int c = 0; c < 0x80; ++c) {
    samples.push_back(std::string(1, static_cast<char>(c)));
    samples.push_back("A" + std::string(1, static_cast<char>(c)) + "Z");
  }
  for (const auto& s : samples) {
    EXPECT_EQ(normalize_entity_id(s), normalize_entity_id(s + "\u200B")) << static_cast<int>(s[0]);
    EXPECT_EQ(to_lower_full(s) + "é", to_lower_full(s + "É"));
    // Separators that ICU itself classifies as White_Space are exactly \t..\r and space.
    if (s.size() == 1) {
      EXPECT_EQ(normalize_entity_id("a" + s + "b") == "a b", u_isUWhiteSpace(s[0]) != 0) << int(s[0]);
    }
  }
}

TEST(ToLowerFull, WholeStringRules) {
  EXPECT_EQ(to_lower_full("ABC def"), "abc def");
  EXPECT_EQ(to_lower_full("ΣΑΣ"), "σας");
  EXPECT_EQ(to_lower_full("\u0130"), "i\u0307");
  EXPECT_EQ(to_lower_full("ǅ"), "ǆ");
}

TEST(Tokenize, Examples) {
  using Tokens = std::vector<std::string>;
  struct Case {
    std::string in;
    Tokens out;
  };
  const Case cases[] = {
      {"TNF-alpha receptor 2", {"tnf", "alpha", "receptor"}},
      {"p53_gene p53", {"p53", "gene", "p53"}},
      {"é", {"é"}},
      {"a b c", {}},
      {"", {}},
      {"--__  ..", {}},
      {"1 23 456", {"23", "456"}},
      {"Ⅻ½x ٣٤", {"ⅻ½x", "٣٤"}},  // Nl, No and Nd are word characters
      {"ΟΔΟΣ!", {"οδος"}},
      {"Cafe\u0301 bar", {"cafe", "bar"}},  // a combining acute is not Alphabetic
      {"日本語テキスト", {"日本語テキスト"}},
      {"a\u00A0bc\u3000de", {"bc", "de"}},
      {"İx", {}},  // lower-cased to i U+0307 x: the non-Alphabetic dot splits it into 1-byte pieces
  };
  for (const auto& c : cases) EXPECT_EQ(tokenize(c.in), c.out) << c.in;
}

TEST(Tokenize, AsciiShortcutAgreesWithTheUnicodePath) {
  // An ideographic space separates without adding a token.
  for (const std::string s : {"TNF-alpha receptor 2", "x", "ab", "A1-b2_C3", "  "}) {
    EXPECT_EQ(tokenize(s), tokenize(s + "\u3000")) << s;
    EXPECT_EQ(tokenize(s), tokenize("\u3000" + s)) << s;
  }
}

}  // namespace
