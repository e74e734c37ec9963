#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/in_memory_run.h"

namespace {

using Names = std::vector<std::string>;

TEST(ReadHeaderTest, AcceptedHeaders) {
  const struct {
    std::string line;
    Names joinList;
  } cases[] = {
      {"join(A,B)", {"A", "B"}},       {"  join ( A , B )  ", {"A", "B"}},
      {"join(my table)", {"mytable"}}, {"join()", {}},
      {"join(A,,B)", {"A", "", "B"}},  {"join(A,B,)", {"A", "B"}},
      {"join(,A)", {"", "A"}},         {"join('x,y',z)", {"'x,y'", "z"}},
      {"join(A,B)\r", {"A", "B"}},     {"join(\tA)", {"\tA"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("header: [" + c.line + "]");
    InMemoryRun run(c.line + "\n");
    EXPECT_TRUE(run.application.readHeader());
    EXPECT_EQ(run.application.joinedNames(), c.joinList);
    EXPECT_EQ(run.consoleText(), "");
  }
}

TEST(ReadHeaderTest, RefusedHeadersEndTheRunWithStatus2) {
  const std::string inputs[] = {
      "Join(A)\n",   "JOIN(A)\n", "join A\n",      "join(A\n",    "join(A)x\n",
      "\njoin(A)\n", "",          "join(A,\nB)\n", "join(A)\t\n",
  };
  for (const std::string& input : inputs) {
    SCOPED_TRACE("input: [" + input + "]");
    InMemoryRun run(input);
    EXPECT_EQ(run.parseAndJoin(), kHeaderFailed);
    EXPECT_EQ(run.consoleText(), "Incorrect header");
    EXPECT_TRUE(run.application.joinedNames().empty());
  }
}

struct DescriptorCase {
  std::string line;
  std::string name;
  Names columns;
};

TEST(ParseTableDescriptorTest, AcceptedDescriptors) {
  const DescriptorCase cases[] = {
      {"T(id int, name)", "T", {"id int", "name"}},
      {"T()", "T", {}},
      {"T(   )", "T", {""}},
      {"T(a, b,)", "T", {"a", "b"}},
      {"T(a,,b)", "T", {"a", "", "b"}},
      {"T(a, b, )", "T", {"a", "b", ""}},
      {"T (a)", "T ", {"a"}},
      {"(a)", "", {"a"}},
      {"T(a(1), b)", "T", {"a(1)", "b"}},
      {"T((a))", "T", {"(a)"}},
      {"T(a)x)", "T", {"a)x"}},
      {"T)(a)", "T)", {"a"}},
      {"T('x, y' text, z)", "T", {"'x, y' text", "z"}},
      {"join(A, B)", "join", {"A", "B"}},
  };
  for (const DescriptorCase& c : cases) {
    SCOPED_TRACE("descriptor: [" + c.line + "]");
    InMemoryRun run("");
    EXPECT_TRUE(run.application.parseTableDescriptor(c.line));
    const Table& table = run.application.parsedTables().back();
    EXPECT_EQ(table.name, c.name);
    EXPECT_EQ(table.columns, c.columns);
    EXPECT_TRUE(table.rows.empty());
  }
}

TEST(ParseTableDescriptorTest, RefusedDescriptorsEndTheRunWithStatus3) {
  const std::string descriptors[] = {"T", "T(a", "T(a) x", "T(a))x"};
  for (const std::string& descriptor : descriptors) {
    SCOPED_TRACE("descriptor: [" + descriptor + "]");
    InMemoryRun run("join(T)\n\n  " + descriptor + "  \n1\n");
    EXPECT_EQ(run.parseAndJoin(), kDescriptorFailed);
    EXPECT_EQ(run.consoleText(), "Error parsing tableDescriptor: " + descriptor + "\n");
  }
}

TEST(ReadTableDataTest, WrongFieldCountPrintsDiagnosticsAndStatus4) {
  const struct {
    std::string input;
    std::string console;
  } cases[] = {
      {"join(T)\nT(id, name)\n1, x\n 1, x, y \n",
       "1| x| y|\nrszie: 3 ; colsize: 2\nWrong number of columns in line: 1, x, y\n"
       "Error reading table data from table: T\n"},
      {"join(T)\nT(a, b, c)\n1,2,\n",
       "1|2|\nrszie: 2 ; colsize: 3\nWrong number of columns in line: 1,2,\n"
       "Error reading table data from table: T\n"},
      {"join(T)\nT()\nx\n",
       "x|\nrszie: 1 ; colsize: 0\nWrong number of columns in line: x\n"
       "Error reading table data from table: T\n"},
      {"join(T)\nT(a, b)\n\t\n",
       "\t|\nrszie: 1 ; colsize: 2\nWrong number of columns in line: \t\n"
       "Error reading table data from table: T\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("input: [" + c.input + "]");
    InMemoryRun run(c.input);
    EXPECT_EQ(run.parseAndJoin(), kTableDataFailed);
    EXPECT_EQ(run.consoleText(), c.console);
  }
}

Names cellsOf(Row row) {
  return Names(row.begin(), row.end());
}

std::vector<Names> rowsOf(const Table& table) {
  std::vector<Names> rows;
  for (Row row : table.rows) {
    rows.push_back(cellsOf(row));
  }
  return rows;
}

TEST(ReadTableDataTest, AcceptedDataLines) {
  const struct {
    std::string data;
    std::vector<Names> rows;
  } cases[] = {
      {"1, x\n2,y", {{"1", "x"}, {"2", "y"}}},
      {"'a,b', c\n", {{"'a,b'", "c"}}},
      {"1,2,\n", {{"1", "2"}}},
      {",,\n", {{"", ""}}},
      {" New York ,  5 \n", {{"New York", "5"}}},
      {"\tx, y\n", {{"\tx", "y"}}},
      {"1,x\r\n2,y\r\n", {{"1", "x"}, {"2", "y"}}},
      {"1,x\n   \n2,y\n", {{"1", "x"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("data: [" + c.data + "]");
    InMemoryRun run("join(T)\nT(a, b)\n" + c.data);
    run.parseAndJoin();
    EXPECT_EQ(rowsOf(run.application.parsedTables().front()), c.rows);
  }
}

TEST(RunTest, DescriptorWithoutBlankLineBeforeItIsADataRow) {
  InMemoryRun run("join(T)\nT(a)\n1\nU(b)\n");
  EXPECT_EQ(run.parseAndJoin(), kResultWritten);
  ASSERT_EQ(run.application.parsedTables().size(), 1u);
  EXPECT_EQ(rowsOf(run.application.parsedTables().front()), (std::vector<Names>{{"1"}, {"U(b)"}}));
}

TEST(RunTest, TablesBetweenBlankLinesAndDuplicateNames) {
  InMemoryRun run("join(A)\n\n \n  A(x)  \n1\n\n\n   \nB(y)\n2\n \nA(z)\n3\n\nC(w)");
  EXPECT_EQ(run.parseAndJoin(), kResultWritten);
  const std::vector<Table>& tables = run.application.parsedTables();
  ASSERT_EQ(tables.size(), 4u);
  EXPECT_EQ(tables[0].columns, Names{"x"});
  EXPECT_EQ(tables[1].name, "B");
  EXPECT_EQ(tables[2].name, "A");
  EXPECT_EQ(tables[3].name, "C");
  EXPECT_TRUE(tables[3].rows.empty());
  EXPECT_EQ(run.application.findTable("A"), &tables[0]);
  EXPECT_EQ(run.application.findTable("a"), nullptr);
  EXPECT_EQ(run.application.findTable("D"), nullptr);
}

TEST(RunTest, CrlfLineEndsParseLikeLf) {
  const std::string lf = "join(A, B)\n\nA(id int, name)\n1, x\n2, y\n\nB(id, price)\n1, 10\n";
  std::string crlf;
  for (char c : lf) {
    if (c == '\n') {
      crlf += '\r';
    }
    crlf += c;
  }
  InMemoryRun lfRun(lf);
  InMemoryRun crlfRun(crlf);
  EXPECT_EQ(lfRun.parseAndJoin(), kResultWritten);
  EXPECT_EQ(crlfRun.parseAndJoin(), kResultWritten);
  EXPECT_EQ(crlfRun.consoleText(), lfRun.consoleText());
  EXPECT_EQ(crlfRun.application.memoryOutput(), crlf + "\n\nresult(id int, name, price)\n1,x,10\n");
}

}  // namespace
