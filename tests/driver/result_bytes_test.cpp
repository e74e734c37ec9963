#include <gtest/gtest.h>

#include <string>

#include "support/in_memory_run.h"

namespace {

// What a successful run appends behind the copy of its input.
std::string appendedResult(const std::string& input) {
  InMemoryRun run(input);
  EXPECT_EQ(run.run(), kResultWritten);
  const std::string& output = run.output();
  EXPECT_EQ(output.substr(0, input.size()), input);
  return output.substr(input.size());
}

TEST(WriteResultTest, WorkedExampleBytes) {
  const std::string input =
      "join(t1, t2)\nt1(id int, name text)\n1, Ann\n2, Bob\n3, Cid\n\n"
      "t2(id integer, city text)\n1, Oslo\n3, Rome\n1, Bergen\n";
  const unsigned char expected[] = {
      0x0a, 0x0a, 0x72, 0x65, 0x73, 0x75, 0x6c, 0x74, 0x28, 0x69, 0x64, 0x20, 0x69, 0x6e, 0x74,
      0x2c, 0x20, 0x6e, 0x61, 0x6d, 0x65, 0x20, 0x74, 0x65, 0x78, 0x74, 0x2c, 0x20, 0x63, 0x69,
      0x74, 0x79, 0x20, 0x74, 0x65, 0x78, 0x74, 0x29, 0x0a, 0x31, 0x2c, 0x41, 0x6e, 0x6e, 0x2c,
      0x4f, 0x73, 0x6c, 0x6f, 0x0a, 0x31, 0x2c, 0x41, 0x6e, 0x6e, 0x2c, 0x42, 0x65, 0x72, 0x67,
      0x65, 0x6e, 0x0a, 0x33, 0x2c, 0x43, 0x69, 0x64, 0x2c, 0x52, 0x6f, 0x6d, 0x65, 0x0a,
  };
  EXPECT_EQ(appendedResult(input), std::string(std::begin(expected), std::end(expected)));
}

TEST(WriteResultTest, Notation) {
  const struct {
    const char* what;
    std::string input;
    std::string appended;
  } cases[] = {
      {"no rows", "join(T)\nT(a, b)\n", "\n\nresult(a, b)\n"},
      {"no columns", "join(T)\nT()", "\n\nresult()\n"},
      {"one column", "join(T)\nT(a)\n1\n2", "\n\nresult(a)\n1\n2\n"},
      {"empty cells", "join(T)\nT(a,b,c)\n,x,,\n", "\n\nresult(a, b, c)\n,x,\n"},
      {"cells as stored", "join(T)\nT(a  b, c)\n'x,y' ,  New  York \n",
       "\n\nresult(a  b, c)\n'x,y',New  York\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(appendedResult(c.input), c.appended);
  }
}

}  // namespace
