#include "text/split.h"

#include <gtest/gtest.h>

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

}  // namespace
