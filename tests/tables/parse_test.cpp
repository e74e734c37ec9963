#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "support/in_memory_run.h"
#include "support/reference_join.h"
#include "tables/table_parsing.h"

namespace {

using Names = std::vector<std::string>;

// The tables of a whole input, parsed by the run, as the join of each in turn shows.
std::string resultOf(const std::string& tables, const std::string& name) {
  const std::string input = "join(" + name + ")\n" + tables;
  InMemoryRun run(input);
  EXPECT_EQ(run.run(), kResultWritten) << run.consoleText();
  return run.output().substr(input.size());
}

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
    const std::string text = c.line + "\n";
    LineReader lines(text);
    Names joinList;
    std::ostringstream console;
    EXPECT_TRUE(readHeader(lines, joinList, console));
    EXPECT_EQ(joinList, c.joinList);
    EXPECT_EQ(console.str(), "");
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
    EXPECT_EQ(run.run(), kHeaderFailed);
    EXPECT_EQ(run.consoleText(), "Incorrect header");
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
    std::vector<Table> tables;
    EXPECT_TRUE(parseTableDescriptor(c.line, tables));
    ASSERT_EQ(tables.size(), 1u);
    const Table& table = tables.back();
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
    EXPECT_EQ(run.run(), kDescriptorFailed);
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
    EXPECT_EQ(run.run(), kTableDataFailed);
    EXPECT_EQ(run.consoleText(), c.console);
  }
}

TEST(ReadTableDataTest, AcceptedDataLines) {
  const struct {
    std::string data;
    std::string rows;
  } cases[] = {
      {"1, x\n2,y", "1,x\n2,y\n"},
      {"'a,b', c\n", "'a,b',c\n"},
      {"1,2,\n", "1,2\n"},
      {",,\n", ",\n"},
      {" New York ,  5 \n", "New York,5\n"},
      {"\tx, y\n", "\tx,y\n"},
      {"1,x\r\n2,y\r\n", "1,x\n2,y\n"},
      {"1,x\n   \nU(b)\n2\n", "1,x\n"},
      {"1,x\nU(b), c\n", "1,x\nU(b),c\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("data: [" + c.data + "]");
    EXPECT_EQ(resultOf("T(a, b)\n" + c.data, "T"), "\n\nresult(a, b)\n" + c.rows);
  }
}

TEST(ReadTableDataTest, RefusesRowsBeyondTheLimit) {
  const std::string text = "1\n2\n3\n";
  LineReader lines(text);
  Table table = makeTable("T", {"a"});
  std::ostringstream console;
  EXPECT_FALSE(readTableData(lines, table, console, 2));
  EXPECT_EQ(console.str(), "Too many rows in table: T (at most 2)\n");
  EXPECT_EQ(table.rows.size(), 2u);
}

// The limit holds for a table parsed in many pieces too, counted across them,
// whether its rows are kept or left in the text.
TEST(ReadTableDataTest, RowLimitHoldsAcrossPieces) {
  const std::string text = "join(T)\nT(a)\n1\n2\n3\n4\n5\n";
  const TableNameTest keptAll;
  const TableNameTest leftAll = [](std::string_view) { return true; };
  for (const TableNameTest* leftInText : {&keptAll, &leftAll}) {
    for (std::size_t pieceBytes = 1; pieceBytes < text.size(); ++pieceBytes) {
      SCOPED_TRACE(std::to_string(pieceBytes) + (*leftInText ? " left in text" : ""));
      std::vector<Table> tables;
      std::ostringstream console;
      const TablesOutcome outcome = readTables(text, text.find('\n') + 1, tables, console,
                                               ParseSpread{2, pieceBytes}, 3, *leftInText);
      EXPECT_EQ(outcome.kind, TablesOutcome::kBadData);
      EXPECT_EQ(console.str(), "Too many rows in table: T (at most 3)\n");
      ASSERT_EQ(tables.size(), 1u);
      EXPECT_EQ(rowCount(tables[0]), 3u);
    }
  }
}

// A table left in the text is checked as a kept one is, and read again it gives
// the same rows, whatever the pieces it was read in.
TEST(ReadTableDataTest, RowsLeftInTextReadAgainAsKept) {
  const std::string text =
      "join(T)\nT(a, b)\n 1 , 'x, y'\n2,\t z \r\n'3\\'', 4\n\nU(c)\n5\n\nT(d)\n6\n";
  const std::size_t start = text.find('\n') + 1;
  std::vector<Table> kept;
  std::ostringstream console;
  ASSERT_EQ(readTables(text, start, kept, console, ParseSpread{}).kind, TablesOutcome::kRead);
  for (std::size_t pieceBytes = 1; pieceBytes < text.size(); ++pieceBytes) {
    SCOPED_TRACE(pieceBytes);
    std::vector<Table> left;
    ASSERT_EQ(readTables(text, start, left, console, ParseSpread{2, pieceBytes}, kMaxTableRows,
                         [](std::string_view name) { return name == "T"; })
                  .kind,
              TablesOutcome::kRead);
    ASSERT_EQ(left.size(), kept.size());
    for (std::size_t t = 0; t < kept.size(); ++t) {
      EXPECT_EQ(left[t].rowsLeftInText, kept[t].name == "T");
      EXPECT_EQ(rowCount(left[t]), kept[t].rows.size());
      RowList again(kept[t].columns.size(), text.data());
      readRowsAgain(left[t].rowLines, again);
      const RowList& rows = left[t].rowsLeftInText ? again : left[t].rows;
      ASSERT_EQ(rows.size(), kept[t].rows.size());
      for (std::size_t r = 0; r < rows.size(); ++r) {
        EXPECT_TRUE(std::equal(rows[r].begin(), rows[r].end(), kept[t].rows[r].begin(),
                               kept[t].rows[r].end()));
      }
    }
  }
}

// Lines read again after the text changed under the run (a cut file reads as zero
// bytes, another program rewrites it) keep the table's width and no more rows than
// were checked, so that no row reaches past its cells; the reading says whether
// the lines were those checked.
TEST(ReadTableDataTest, RowsReadAgainKeepTheirWidthInAChangedText) {
  using Rows = std::vector<std::vector<std::string_view>>;
  const struct {
    std::string text;
    std::size_t most;
    Rows rows;
    bool asChecked;
  } cases[] = {
      {"1, 2\n3, 4\n", kMaxTableRows, {{"1", "2"}, {"3", "4"}}, true},
      {std::string("1, 2, 3\n4\n5, 6, 7, 8\n\0\0\0", 24),
       kMaxTableRows,
       {{"1", "2"}, {"4", ""}, {"5", "6"}, {std::string_view("\0\0\0", 3), ""}},
       false},
      {"1, 2\n3\n4\n5, 6\n", 2, {{"1", "2"}, {"3", ""}}, false},
      {"1, 2\n3, 4\n", 2, {{"1", "2"}, {"3", "4"}}, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    RowList rows(2, c.text.data());
    EXPECT_EQ(readRowsAgain(c.text, rows, c.most), c.asChecked);
    ASSERT_EQ(rows.size(), c.rows.size());
    for (std::size_t r = 0; r < rows.size(); ++r) {
      EXPECT_EQ(std::vector<std::string_view>(rows[r].begin(), rows[r].end()), c.rows[r]) << r;
    }
  }
}

TEST(RunTest, TablesBetweenBlankLinesAndDuplicateNames) {
  const std::string tables = "\n \n  A(x)  \n1\n\n\n   \nB(y)\n2\n \nA(z)\n3\n\nC(w)";
  EXPECT_EQ(resultOf(tables, "A"), "\n\nresult(x)\n1\n");
  EXPECT_EQ(resultOf(tables, "B"), "\n\nresult(y)\n2\n");
  EXPECT_EQ(resultOf(tables, "C"), "\n\nresult(w)\n");
  std::vector<Table> parsed;
  for (const char* line : {"A(x)", "B(y)", "A(z)"}) {
    ASSERT_TRUE(parseTableDescriptor(line, parsed));
  }
  const TableLookup lookup(parsed);
  EXPECT_EQ(lookup.find("A"), &parsed[0]);
  EXPECT_EQ(lookup.find("B"), &parsed[1]);
  EXPECT_EQ(lookup.find("a"), nullptr);
  EXPECT_EQ(lookup.find("D"), nullptr);
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
  EXPECT_EQ(lfRun.run(), kResultWritten);
  EXPECT_EQ(crlfRun.run(), kResultWritten);
  EXPECT_EQ(crlfRun.consoleText(), lfRun.consoleText());
  EXPECT_EQ(crlfRun.output(), crlf + "\n\nresult(id int, name, price)\n1,x,10\n");
}

}  // namespace
