// The CSV export: its files, read back by a plain reader of RFC 4180, hold every
// table's cells exactly as a join compares them; a failed file leaves none.

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "output/csv.h"
#include "support/csv_records.h"
#include "support/folder.h"
#include "support/reference_join.h"

namespace {

TEST(CsvTest, QuotesWhereNeeded) {
  const struct {
    Strings fields;
    std::string record;
  } cases[] = {
      {{"a", "b"}, "a,b\r\n"},
      {{"'x, y'", ""}, "\"'x, y'\",\r\n"},
      {{"say \"hi\""}, "\"say \"\"hi\"\"\"\r\n"},
      {{"a\rb", "c\nd"}, "\"a\rb\",\"c\nd\"\r\n"},
      {{"\\'", " in "}, "\\', in \r\n"},
      {{""}, "\"\"\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.record);
    std::string out;
    const std::vector<std::string_view> fields(c.fields.begin(), c.fields.end());
    appendCsvRecord(out, fields);
    EXPECT_EQ(out, c.record);
    EXPECT_EQ(readCsv(out), std::vector<Strings>{c.fields});
  }
}

// Random tables, written in every layout the format allows, come back cell for cell.
TEST(CsvTest, ExportedTablesReadBackExactly) {
  RandomTables random(99);
  for (int round = 0; round < 60; ++round) {
    SCOPED_TRACE(round);
    std::vector<PlainTable> tables;
    std::string input = "join(T0)\n";
    for (int t = 0; t < 3; ++t) {
      tables.push_back(random.table(std::string("T").append(std::to_string(t)), true));
      input.append("\n").append(random.input(tables.back()));
    }
    Folder folder;
    folder.write("in.txt", input);
    const Folder::Outcome outcome =
        folder.runShell(Folder::program() + " --csv tables in.txt 2> /dev/null");
    ASSERT_EQ(outcome.status, 0) << outcome.console;
    for (const PlainTable& table : tables) {
      std::vector<Strings> expected;
      Strings keys;
      for (const std::string& column : table.columns) {
        keys.push_back(referenceKey(column));
      }
      expected.push_back(keys);
      expected.insert(expected.end(), table.rows.begin(), table.rows.end());
      const std::optional<std::string> csv = folder.read("tables/" + table.name + ".csv");
      ASSERT_TRUE(csv.has_value());
      EXPECT_EQ(readCsv(*csv), expected) << input;
    }
  }
}

TEST(CsvTest, FailuresLeaveNoFile) {
  const struct {
    const char* what;
    std::string input;
    int status;
    bool keepsA;
  } cases[] = {
      {"a table named twice keeps its first", "join(A)\n\nA(x)\n1\n\nA(y)\n2\n", 0, true},
      {"a bad row after a written table", "join(A)\n\nA(x)\n1\n\nB(y)\n2, 3\n", 4, false},
      {"a bad descriptor", "join(A)\n\nA(x)\n1\n\nB(y\n", 3, false},
      {"a bad header", "joint(A)\n\nA(x)\n1\n", 2, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Folder folder;
    folder.write("in.txt", c.input);
    const Folder::Outcome outcome =
        folder.runShell(Folder::program() + " --csv tables in.txt 2> /dev/null");
    EXPECT_EQ(outcome.status, c.status);
    const std::optional<std::string> a = folder.read("tables/A.csv");
    EXPECT_EQ(a.has_value(), c.keepsA);
    EXPECT_FALSE(folder.read("tables/B.csv").has_value());
    if (c.keepsA) {
      EXPECT_EQ(a.value_or(""), "x\r\n1\r\n");
    }
  }
}

}  // namespace
