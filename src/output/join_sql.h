// The header's join as SQL that DuckDB runs over the tables exported as CSV, for
// when a join outgrows this tool. It gives this tool's rows: every column is read
// as text, no cell becomes NULL (an empty cell or one that reads \N stays a
// string), and columns are matched by their keys byte for byte, left to right,
// with every pairing where a step shares no key. Columns are named by position
// while joining, since DuckDB matches identifiers without regard to letter case.
#pragma once

#include <string>
#include <vector>

struct ExportedTable {
  std::string file;               // its CSV file, relative to the folder of the SQL
  std::vector<std::string> keys;  // its column keys, in order
};

// One SELECT over the tables in the header's order, its columns named by their keys.
std::string joinSql(const std::vector<ExportedTable>& joined);
