#include "text/string_helpers.h"

#include <gtest/gtest.h>

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

}  // namespace
