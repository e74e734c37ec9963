#include <gtest/gtest.h>

#include <string>

#include "support/in_memory_run.h"

namespace {

const char kAb[] = "A(id int, name)\n1, x\n2, y\n\nB(id, price)\n1, 10\n\nC(price, tag)\n10, t\n";

TEST(JoinChainTest, StatusesAndConsole) {
  const struct {
    std::string header;
    int status;
    std::string console;
    std::string appended;
  } cases[] = {
      {"join(A, B)", kResultWritten,
       "Parsing the input file complete.\nJoining the tables: .\nJoin complete.\nOutput written.",
       "\n\nresult(id int, name, price)\n1,x,10\n"},
      {"join(A, B, C)", kResultWritten,
       "Parsing the input file complete.\nJoining the tables: ..\nJoin complete.\nOutput written.",
       "\n\nresult(id int, name, price, tag)\n1,x,10,t\n"},
      {"join(B)", kResultWritten,
       "Parsing the input file complete.\nJoining the tables: \nJoin complete.\nOutput written.",
       "\n\nresult(id, price)\n1,10\n"},
      {"join(A, A)", kResultWritten,
       "Parsing the input file complete.\nJoining the tables: .\nJoin complete.\nOutput written.",
       "\n\nresult(id int, name)\n1,x\n2,y\n"},
      {"join()", kNoTablesToJoin, "Parsing the input file complete.\nNo tables in to join !\n", ""},
      {"join(A, X)", kTableNotFound,
       "Parsing the input file complete.\nJoining the tables: Table Xnot found!\n", ""},
      {"join(A, B, X, C)", kTableNotFound,
       "Parsing the input file complete.\nJoining the tables: .Table Xnot found!\n", ""},
      {"join(a)", kTableNotFound,
       "Parsing the input file complete.\nJoining the tables: Table anot found!\n", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.header);
    const std::string input = c.header + "\n\n" + kAb;
    InMemoryRun run(input);
    EXPECT_EQ(run.parseAndJoin(), c.status);
    EXPECT_EQ(run.consoleText(), c.console);
    EXPECT_EQ(run.application.memoryOutput(), input + c.appended);
  }
}

TEST(JoinChainTest, HeaderOnlyReportsFirstTableMissing) {
  InMemoryRun run("join(A, B)\n");
  EXPECT_EQ(run.parseAndJoin(), kTableNotFound);
  EXPECT_EQ(run.consoleText(),
            "Parsing the input file complete.\nJoining the tables: Table Anot found!\n");
}

TEST(JoinChainTest, WorkLimitStopsTheResult) {
  InMemoryRun run("join(A, B)\nA(a)\n1\n2\n3\n\nB(b)\n1\n2\n3\n");
  run.application.limitJoinWork(4);
  EXPECT_EQ(run.parseAndJoin(), kResultWritten);
  const std::string& output = run.application.memoryOutput();
  EXPECT_EQ(output.substr(output.find("result")), "result(a, b)\n1,1\n1,2\n1,3\n2,1\n");
}

// Partial rows count too: a product that a later table empties again stops as well.
TEST(JoinChainTest, WorkLimitStopsPartialRows) {
  std::string input = "join(A, A, A, A, A, A, A, A, A, A, B)\nA(k)\n";
  for (int i = 0; i < 40; ++i) {
    input += "1\n";
  }
  input += "\nB(k)\n2\n";
  InMemoryRun run(input);
  run.application.limitJoinWork(100000);
  EXPECT_EQ(run.parseAndJoin(), kResultWritten);
  EXPECT_EQ(run.application.memoryOutput(), input + "\n\nresult(k)\n");
}

}  // namespace
