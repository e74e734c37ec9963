// The way out to a bigger engine: DuckDB, run on the join.sql that --csv writes,
// gives the rows this tool gives, on cells that trip CSV readers and SQL engines.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

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

TEST(JoinSqlTest, DuckDbGivesTheRowsOfTheJoin) {
  const std::string api =
      std::string(PRG_SOURCE_DIR) + "/bench/node_modules/@duckdb/node-api/lib/index.js";
  if (std::system("node --version > /dev/null 2>&1") != 0 || !std::filesystem::exists(api)) {
    if (std::getenv("PRG_REQUIRE_DUCKDB") != nullptr) {
      FAIL() << "Node.js or bench's @duckdb/node-api is missing";
    }
    GTEST_SKIP() << "Node.js or DuckDB's package is missing: npm ci in bench/ to run this test";
  }
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
  const Folder::Outcome duckdb =
      folder.runShell("cd out && node '" + std::string(PRG_SOURCE_DIR) +
                      "/tests/support/duckdb_rows.mjs' '" + api + "' join.sql");
  ASSERT_EQ(duckdb.status, 0) << duckdb.console;
  std::istringstream lines(duckdb.console);
  std::string line;
  std::getline(lines, line);
  Strings keys;
  for (const std::string& column : expected.columns) {
    keys.push_back(referenceKey(column));
  }
  EXPECT_EQ(cellsOf(line), keys);
  std::vector<Strings> rows;
  while (std::getline(lines, line)) {
    rows.push_back(cellsOf(line));
  }
  std::vector<Strings> wanted = expected.rows;
  std::sort(rows.begin(), rows.end());
  std::sort(wanted.begin(), wanted.end());
  EXPECT_EQ(rows, wanted);
}

}  // namespace
