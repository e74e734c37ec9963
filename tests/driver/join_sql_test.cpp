// The way out to a bigger engine: DuckDB, run on the join.sql that --csv writes,
// gives the rows this tool gives, on cells that trip CSV readers and SQL engines.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "support/csv_records.h"
#include "support/folder.h"
#include "support/reference_join.h"

namespace {

Strings cellsOf(const std::string& line) {
  Strings cells;
  std::istringstream words(line);
  std::string hex;
  while (words >> hex) {
    std::string cell = hex == "-" ? "<NULL>" : "";
    for (std::size_t i = 1; hex != "-" && i + 1 < hex.size(); i += 2) {
      cell.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    }
    cells.push_back(cell);
  }
  return cells;
}

// Where DuckDB's package is, when Node.js and it are here.
std::string duckDbApi() {
  const std::string api =
      std::string(PRG_SOURCE_DIR) + "/bench/node_modules/@duckdb/node-api/lib/index.js";
  const bool here =
      std::system("node --version > /dev/null 2>&1") == 0 && std::filesystem::exists(api);
  return here ? api : "";
}

#define REQUIRE_DUCKDB(api)                                                                      \
  if ((api).empty()) {                                                                           \
    if (std::getenv("PRG_REQUIRE_DUCKDB") != nullptr) {                                          \
      FAIL() << "Node.js or bench's @duckdb/node-api is missing";                                \
    }                                                                                            \
    GTEST_SKIP() << "Node.js or DuckDB's package is missing: npm ci in bench/ to run this test"; \
  }

// The column names and rows DuckDB gives for the join.sql in folder/sub.
std::vector<Strings> duckDbRows(const Folder& folder, const std::string& sub,
                                const std::string& api) {
  const Folder::Outcome duckdb =
      folder.runShell("cd " + sub + " && node '" + std::string(PRG_SOURCE_DIR) +
                      "/tests/support/duckdb_rows.mjs' '" + api + "' join.sql 2>&1");
  EXPECT_EQ(duckdb.status, 0) << duckdb.console.substr(0, 400);
  std::istringstream lines(duckdb.console);
  std::vector<Strings> rows;
  for (std::string line; std::getline(lines, line);) {
    rows.push_back(cellsOf(line));
  }
  return rows;
}

TEST(JoinSqlTest, DuckDbGivesTheRowsOfTheJoin) {
  const std::string api = duckDbApi();
  REQUIRE_DUCKDB(api);
  // Empty keys, quoted commas, \', double quotes, \N and keys that differ only in
  // letter case, which DuckDB's NATURAL JOIN would take for one.
  const PlainTable a{"A",
                     {"id int", "name", "ID"},
                     {{"1", "'Cid, Jr.'", "x"},
                      {"", "empty key", "y"},
                      {"2", "O\\'Brien", "z"},
                      {"3", "\"quoted\"", "\\N"},
                      {"3", "again", ""}}};
  const PlainTable b{"B", {"id", "price"}, {{"1", "10"}, {"", "20"}, {"2", "\\N"}, {"3", ""}}};
  const PlainTable c{
      "C",
      {"ID", "note"},
      {{"x", "first"}, {"y", "second"}, {"z", "fourth"}, {"\\N", "\"third\""}, {"", "empty"}}};
  const std::string input =
      "join(A, B, C)\n\nA(id int, name, ID)\n1, 'Cid, Jr.', x\n, empty key, y\n2, O\\'Brien, "
      "z\n3, \"quoted\", \\N\n3, again,,\n\nB(id, price)\n1, 10\n, 20\n2, \\N\n3,,\n\nC(ID, "
      "note)\nx, first\ny, second\nz, fourth\n\\N, \"third\"\n, empty\n";
  const PlainTable expected = referenceJoin(referenceJoin(a, b), c);
  ASSERT_GE(expected.rows.size(), 5u);

  Folder folder;
  folder.write("in.txt", input);
  ASSERT_EQ(folder.runShell(Folder::program() + " --csv out in.txt > /dev/null 2>&1").status, 0);
  std::vector<Strings> rows = duckDbRows(folder, "out", api);
  ASSERT_FALSE(rows.empty());
  Strings keys;
  for (const std::string& column : expected.columns) {
    keys.push_back(referenceKey(column));
  }
  EXPECT_EQ(rows.front(), keys);
  rows.erase(rows.begin());
  std::vector<Strings> wanted = expected.rows;
  std::sort(rows.begin(), rows.end());
  std::sort(wanted.begin(), wanted.end());
  EXPECT_EQ(rows, wanted);
}

// Table names that a reader of file names takes for patterns or a home folder, keys
// that can't name a column, a line longer than DuckDB reads by default: join.sql
// reads exactly the files the export wrote and gives this tool's rows, as --result
// csv writes them (column names aside, where a key can't be one).
TEST(JoinSqlTest, DuckDbReadsOnlyTheExportedFiles) {
  const std::string api = duckDbApi();
  REQUIRE_DUCKDB(api);
  using namespace std::string_literals;
  const struct {
    const char* what;
    std::string input;
    Strings columns;
  } cases[] = {
      {"names that are patterns, paths and a home folder",
       "join(A, *, [AB], ~, ., a/b)\n\nA(id, x)\n1, a\n2, b\n\n*(id, y)\n1, s\n\n[AB](id, "
       "z)\n1, t\n\n~(id, w)\n1, u\n\n.(id, v)\n1, v\n\na/b(id, q)\n1, w\n\nB(id, r)\n9, "
       "never\n",
       {"id", "x", "y", "z", "w", "v", "q"}},
      {"an empty key and one with a NUL byte",
       "join(A, B)\n\nA(, k\0ey, x)\n1, 2, a\n\nB(, y)\n1, b\n"s,
       {"column0", "column1", "x", "y"}},
      {"a line of three million bytes",
       "join(A, B)\n\nA(id, x)\n1, " + std::string(3000000, 'a') + "\n\nB(id, y)\n1, b\n",
       {"id", "x", "y"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Folder folder;
    folder.write("in.txt", c.input);
    folder.write("out/mine.csv", "id,y\r\n1,mine\r\n");
    folder.write("home.csv", "id,w\r\n1,outside\r\n");
    ASSERT_EQ(folder
                  .runShell("HOME=\"$PWD/home\" " + Folder::program() +
                            " --csv out in.txt > /dev/null 2>&1 && " + Folder::program() +
                            " --result csv in.txt result.csv > /dev/null 2>&1")
                  .status,
              0);
    std::vector<Strings> rows = duckDbRows(folder, "out", api);
    ASSERT_FALSE(rows.empty());
    EXPECT_EQ(rows.front(), c.columns);
    rows.erase(rows.begin());
    std::vector<Strings> wanted = readCsv(folder.read("result.csv").value_or(""));
    ASSERT_FALSE(wanted.empty());
    wanted.erase(wanted.begin());
    std::sort(rows.begin(), rows.end());
    std::sort(wanted.begin(), wanted.end());
    EXPECT_TRUE(rows == wanted) << rows.size() << " rows, " << wanted.size() << " wanted";
  }
}

}  // namespace
