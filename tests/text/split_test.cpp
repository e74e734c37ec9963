#include "text/split.h"
#include "text/split_paths.h"

#include "support/cut_paths.h"
#include "text/string_helpers.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

using Fields = std::vector<std::string>;

struct SplitCase {
  std::string line;
  char separator;
  Fields expected;
};

void expectSplit(const SplitCase& c) {
  SCOPED_TRACE("line: [" + c.line + "] separator: [" + std::string(1, c.separator) + "]");
  EXPECT_EQ(split(c.line, c.separator), c.expected);
  std::vector<std::string_view> views;
  splitInto(c.line, c.separator, views);
  EXPECT_EQ(Fields(views.begin(), views.end()), c.expected);
}

TEST(SplitTest, CutsOutsideQuotes) {
  const SplitCase cases[] = {
      {"a,b,c", ',', {"a", "b", "c"}},
      {"", ',', {}},
      {"a,", ',', {"a"}},
      {"a,,", ',', {"a", ""}},
      {",", ',', {""}},
      {",,", ',', {"", ""}},
      {",a", ',', {"", "a"}},
      {"a,,b", ',', {"a", "", "b"}},
      {"a , b", ',', {"a ", " b"}},
      {"'x,y',z", ',', {"'x,y'", "z"}},
      {"'a','b'", ',', {"'a'", "'b'"}},
      {"''", ',', {"''"}},
      {"x'y,z'w,v", ',', {"x'y,z'w", "v"}},
      {"a,'b,c", ',', {"a", "'b,c"}},
      {"it's,fine", ',', {"it's,fine"}},
      {"a\\,b", ',', {"a\\", "b"}},
      {"id int", ' ', {"id", "int"}},
      {"id  int", ' ', {"id", "", "int"}},
      {"id int ", ' ', {"id", "int"}},
      {" id", ' ', {"", "id"}},
      {"'first name' text", ' ', {"'first name'", "text"}},
      {"", ' ', {}},
      {"a\tb,c\r", ',', {"a\tb", "c\r"}},
      {std::string("\0,\xff", 3), ',', {std::string("\0", 1), "\xff"}},
  };
  for (const SplitCase& c : cases) {
    expectSplit(c);
  }
}

// An apostrophe right after a backslash does not open or close a quote, unless that
// backslash is itself escaped by one before it. Backslashes are never removed.
TEST(SplitTest, BackslashEscapesApostrophe) {
  const SplitCase cases[] = {
      {"a\\',b", ',', {"a\\'", "b"}},
      {"a\\\\',b", ',', {"a\\\\',b"}},
      {"'it\\'s,here',x", ',', {"'it\\'s,here'", "x"}},
      {"\\',x", ',', {"\\'", "x"}},
      {"'\\\\',x", ',', {"'\\\\'", "x"}},
      {"'a\\',b',c", ',', {"'a\\',b'", "c"}},
  };
  for (const SplitCase& c : cases) {
    expectSplit(c);
  }
}

// Each way through a line the splitter can take (a byte, 16 or 32 bytes at a
// time), its count and its trimmed cut agree with the plain cut on lines of every
// length, with separators, apostrophes, backslashes and CRs at every place of a
// block and across its borders.
TEST(SplitTest, EveryCutPathAgreesWithThePlainOne) {
  std::vector<std::string_view> wide;
  std::vector<std::string_view> plain;
  const char bytes[] = {'a', ',', ' ', '\'', '\\', '\r', 'x', '\0'};
  onEveryCutPath([&] {
    std::mt19937 random(11);
    for (int round = 0; round < 20000; ++round) {
      std::string line(random() % 140, 'a');
      // Mostly plain bytes, so that many lines hold no apostrophe at all.
      const unsigned rare = 1 + random() % 8;
      for (char& byte : line) {
        byte = random() % rare == 0 ? bytes[random() % sizeof bytes] : 'v';
      }
      for (const char separator : {',', ' '}) {
        SCOPED_TRACE(::testing::PrintToString(line));
        splitInto(line, separator, wide);
        splitIntoPlainly(line, separator, plain);
        ASSERT_EQ(wide, plain);
        ASSERT_EQ(fieldCount(line, separator), plain.size());
        for (std::size_t f = 0; f < wide.size(); ++f) {
          ASSERT_EQ(wide[f].data(), plain[f].data());
        }
        // Trimmed as the readers of data lines trim them, views and all.
        splitTrimmedInto(line, separator, wide);
        splitIntoPlainly(trimmedView(line), separator, plain);
        ASSERT_EQ(wide.size(), plain.size());
        for (std::size_t f = 0; f < plain.size(); ++f) {
          const std::string_view field = trimmedView(plain[f]);
          ASSERT_EQ(wide[f], field);
          ASSERT_EQ(wide[f].data(), field.data());
        }
      }
    }
  });
  if (widestCutPath() < CutPath::kAvx2) {
    GTEST_SKIP() << "this CPU has no AVX2: its cut was not taken";
  }
}

}  // namespace
