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
    EXPECT_EQ(run.run(), c.status);
    EXPECT_EQ(run.consoleText(), c.console);
    EXPECT_EQ(run.output(), input + c.appended);
  }
}

TEST(JoinChainTest, HeaderOnlyReportsFirstTableMissing) {
  InMemoryRun run("join(A, B)\n");
  EXPECT_EQ(run.run(), kTableNotFound);
  EXPECT_EQ(run.consoleText(),
            "Parsing the input file complete.\nJoining the tables: Table Anot found!\n");
}

// A run whose join gives up at its work budget must not look like a complete one.
TEST(JoinChainTest, WorkBudgetEndsTheRunAsSuch) {
  std::string product = "join(A, A, A, A, A, A, A, A, A, A, B)\nA(k)\n";
  for (int i = 0; i < 40; ++i) {
    product += "1\n";
  }
  product += "\nB(k)\n2\n";
  const struct {
    std::string input;
    std::size_t limit;
  } cases[] = {
      {"join(A, B)\nA(a)\n1\n2\n3\n\nB(b)\n1\n2\n3\n", 4},
      {product, 100000},  // partial rows count: a later table would empty this product
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.input);
    JoinWorkBudget budget(c.limit);
    InMemoryRun run(c.input, spreadOver(1, 0, 0, &budget));
    EXPECT_EQ(run.run(), kOutputWriteFailed);
    EXPECT_TRUE(budget.exhausted());
    EXPECT_TRUE(run.consoleText().ends_with("\nJoin complete.\nCan't write output file!\n"))
        << run.consoleText();
    EXPECT_EQ(run.output().substr(0, c.input.size()), c.input);
  }
}

}  // namespace
