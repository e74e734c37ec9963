// The CSV export: its files, read back by a plain reader of RFC 4180, hold every
// table's cells exactly as a join compares them; a failed file leaves none.

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "output/csv.h"
#include "output/row_format.h"
#include "support/csv_records.h"
#include "support/folder.h"
#include "support/reference_join.h"

namespace {

// Each format writes any cell so that its reader gets the cell back: CSV quotes
// where needed, TSV escapes what would end a cell or a line.
TEST(RowFormatTest, RowsReadBackAsTheirCells) {
  constexpr RowFormat::Kind kCsv = RowFormat::Kind::kCsv;
  constexpr RowFormat::Kind kTsv = RowFormat::Kind::kTsv;
  const struct {
    RowFormat::Kind format;
    Strings fields;
    std::string record;
  } cases[] = {
      {kCsv, {"a", "b"}, "a,b\r\n"},
      {kCsv, {"'x, y'", ""}, "\"'x, y'\",\r\n"},
      {kCsv, {"say \"hi\""}, "\"say \"\"hi\"\"\"\r\n"},
      {kCsv, {"a\rb", "c\nd"}, "\"a\rb\",\"c\nd\"\r\n"},
      {kCsv, {"\\'", " in "}, "\\', in \r\n"},
      {kCsv, {""}, "\"\"\r\n"},
      {kTsv, {"a", "b"}, "a\tb\n"},
      {kTsv, {"'x, y'", "say \"hi\""}, "'x, y'\tsay \"hi\"\n"},
      {kTsv, {"a\tb", "c\nd\re"}, "a\\tb\tc\\nd\\re\n"},
      {kTsv, {"\\", "\\t", ""}, "\\\\\t\\\\t\t\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.record);
    std::string out;
    const std::vector<std::string_view> fields(c.fields.begin(), c.fields.end());
    RowFormat(c.format).appendRow(out, fields);
    EXPECT_EQ(out, c.record);
    EXPECT_EQ(c.format == kCsv ? readCsv(out) : readTsv(out), std::vector<Strings>{c.fields});
  }
}

// One rule turns a table's name into its file's: nothing a reader of file names
// takes for a pattern, a path or a home folder is left, and % is escaped too, so
// that two names never share a file.
TEST(CsvTest, FileNamesAreNeverPatterns) {
  using namespace std::string_literals;
  const struct {
    std::string table;
    std::string file;
  } cases[] = {
      {"A", "A.csv"},           {"*", "%2A.csv"},
      {"[AB]", "%5BAB%5D.csv"}, {"a?{b}", "a%3F%7Bb%7D.csv"},
      {"~", "%7E.csv"},         {"a~", "a~.csv"},
      {".", "%2E.csv"},         {"..", "%2E..csv"},
      {"a/b", "a%2Fb.csv"},     {"50%", "50%25.csv"},
      {"%25", "%2525.csv"},     {"t\tab\x01"s, "t%09ab%01.csv"},
      {"n\0l"s, "n%00l.csv"},   {"caf\xc3\xa9 x", "caf\xc3\xa9 x.csv"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.table);
    EXPECT_EQ(csvFileName(c.table), c.file);
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

TEST(CsvTest, FailuresLeaveNoFileAndWarningsLeaveAll) {
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
      {"a table that can't be read back by DuckDB is written, with a warning",
       "join(A)\n\nA(x)\n1\n\nB(y)\n\xff\n", 0, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Folder folder;
    folder.write("in.txt", c.input);
    const Folder::Outcome outcome =
        folder.runShell(Folder::program() + " --csv tables in.txt 2> err.txt");
    EXPECT_EQ(outcome.status, c.status);
    const std::optional<std::string> a = folder.read("tables/A.csv");
    EXPECT_EQ(a.has_value(), c.keepsA);
    const bool notUtf8 = c.input.find('\xff') != std::string::npos;
    EXPECT_EQ(folder.read("tables/B.csv").has_value(), notUtf8);
    if (notUtf8) {
      EXPECT_EQ(folder.read("err.txt"),
                "prg: warning: line 7 of the table B holds bytes that are not UTF-8, which "
                "DuckDB refuses in a CSV file\nprg: wrote 2 tables to tables\n");
    }
    if (c.keepsA) {
      EXPECT_EQ(a.value_or(""), "x\r\n1\r\n");
    }
  }
}

}  // namespace
