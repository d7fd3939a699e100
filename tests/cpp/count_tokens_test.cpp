// Search ranks candidates by their token count, taken without building the
// tokens; it must always equal the number of tokens tokenize() builds.
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "entity_store.h"

namespace {

using zorlet_store::entity_store::count_tokens;
using zorlet_store::entity_store::tokenize;

class CountTokens : public testing::TestWithParam<std::string> {};

TEST_P(CountTokens, EqualsTheNumberOfTokens) {
  EXPECT_EQ(count_tokens(GetParam()), tokenize(GetParam()).size()) << GetParam();
}

INSTANTIATE_TEST_SUITE_P(
    Texts, CountTokens,
    testing::Values("", "a", "ab", "a b c", "TNF-alpha receptor 2", "p53_gene p53", "gene:KE0", "ent0000123",
                    "  Zedri Beven  ", "x1", "1x", "--", "ab--", "--ab", "A_B_CD_EF", "trailing ab",
                    // Non-ASCII text takes the full path: one-letter words of two bytes count,
                    // and lower-casing may change byte lengths.
                    "\xC3\xA9", "caf\xC3\xA9 au lait", "\xC4\xB0stanbul", "TNF-\xCE\xB1", "a\xE2\x80\x8B" "b",
                    "\xEF\xBC\xA1\xEF\xBC\xA2\xEF\xBC\xA3", "\xFF\xFE broken bytes ab"));

TEST(CountTokensRandom, EqualsTheNumberOfTokensOnMixedAsciiText) {
  // Letters, digits and separators in runs of every length.
  const std::string alphabet = "aZ09 _-:.\t";
  std::mt19937 rng(3);
  for (int i = 0; i < 2000; ++i) {
    std::string text;
    for (int n = rng() % 24; n > 0; --n) text.push_back(alphabet[rng() % alphabet.size()]);
    ASSERT_EQ(count_tokens(text), tokenize(text).size()) << text;
  }
}

}  // namespace
