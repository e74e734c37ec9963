#include "text/string_helpers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <sstream>
#include <vector>

namespace {

TEST(TrimTest, RemovesOnlyOuterSpaces) {
  const struct {
    std::string input;
    std::string expected;
  } cases[] = {
      {"", ""},        {"   ", ""},    {"  a b  ", "a b"},
      {"\ta ", "\ta"}, {"x\r", "x\r"}, {" \xff ", "\xff"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("input: [" + c.input + "]");
    EXPECT_EQ(trimmedCopy(c.input), c.expected);
    EXPECT_EQ(trimmedView(c.input), c.expected);
  }
}

TEST(RemoveCharTest, RemovesEveryOccurrence) {
  std::string header = "join( A , B )";
  removeChar(header, ' ');
  EXPECT_EQ(header, "join(A,B)");
  std::string untouched = "a\tb";
  removeChar(untouched, ' ');
  EXPECT_EQ(untouched, "a\tb");
}

TEST(StripTest, PrefixAndSuffix) {
  const struct {
    std::string text;
    std::string affix;
    bool prefix;
    bool stripped;
    std::string expected;
  } cases[] = {
      {"join(A)", "join(", true, true, "A)"},
      {"jo", "join(", true, false, "jo"},
      {"join(", "join(", true, true, ""},
      {"Join(A)", "join(", true, false, "Join(A)"},
      {"abc", "", true, true, "abc"},
      {"inputs.csv", "input", true, true, "s.csv"},
      {"A,B)", ")", false, true, "A,B"},
      {"", ")", false, false, ""},
      {")", ")", false, true, ""},
      {"A) ", ")", false, false, "A) "},
      {"abc", "", false, true, "abc"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("text: [" + c.text + "] affix: [" + c.affix + "]");
    std::string text = c.text;
    EXPECT_EQ(c.prefix ? stripPrefix(text, c.affix) : stripSuffix(text, c.affix), c.stripped);
    EXPECT_EQ(text, c.expected);
  }
}

TEST(JoinStringsTest, EveryItemIsFollowedBySeparator) {
  using Items = std::vector<std::string_view>;
  EXPECT_EQ(joinStrings(Items{}, "|"), "");
  EXPECT_EQ(joinStrings(Items{"a"}, "|"), "a|");
  EXPECT_EQ(joinStrings(Items{"a", "", "b"}, "|"), "a||b|");
  std::ostringstream stream;
  writeJoinedLine(Items{"1", "x y"}, stream, "|");
  EXPECT_EQ(stream.str(), "1|x y|\n");
}

TEST(Utf8Test, WellFormedOnly) {
  const struct {
    const char* text;
    bool utf8;
  } cases[] = {
      {"", true},
      {"plain ascii", true},
      {"caf\xc3\xa9", true},
      {"\xe2\x82\xac \xf0\x9f\x98\x80", true},
      {"\xed\x9f\xbf", true},      // U+D7FF, the last before the surrogates
      {"\xf4\x8f\xbf\xbf", true},  // U+10FFFF
      {"\xff", false},
      {"\xc3", false},              // cut short
      {"\xc0\xaf", false},          // overlong
      {"\xe0\x80\xaf", false},      // overlong
      {"\xed\xa0\x80", false},      // a surrogate
      {"\xf4\x90\x80\x80", false},  // past U+10FFFF
      {"a\x80"
       "b",
       false},              // a continuation byte alone
      {"\xe2\x82", false},  // cut short
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(isUtf8(c.text), c.utf8);
  }
}

// The banded distance agrees with the full one wherever it is within the bound,
// on random short strings over a small alphabet, where edits are common.
TEST(EditDistanceTest, AgreesWithThePlainDistanceWithinTheBound) {
  const auto plain = [](const std::string& a, const std::string& b) {
    std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
    for (std::size_t i = 0; i <= a.size(); ++i) {
      for (std::size_t j = 0; j <= b.size(); ++j) {
        d[i][j] = i == 0   ? j
                  : j == 0 ? i
                           : std::min({d[i - 1][j] + 1, d[i][j - 1] + 1,
                                       d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
      }
    }
    return d[a.size()][b.size()];
  };
  std::mt19937 random(7);
  const auto word = [&random] {
    std::string text(random() % 9, 'a');
    for (char& byte : text) {
      byte = static_cast<char>('a' + random() % 3);
    }
    return text;
  };
  for (int round = 0; round < 3000; ++round) {
    const std::string a = word();
    const std::string b = word();
    const std::size_t most = random() % 4;
    SCOPED_TRACE(a + " / " + b + " within " + std::to_string(most));
    EXPECT_EQ(editDistance(a, b, most), std::min(plain(a, b), most + 1));
  }
  EXPECT_EQ(editDistance("customres", "customers", 2), 2u);
  EXPECT_EQ(editDistance("cust_id", "customer_id", 2), 3u);
}

}  // namespace
