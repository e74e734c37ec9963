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
  std::string file;               // its CSV file, in the folder of the SQL
  std::vector<std::string> keys;  // its column keys, in order
  std::size_t longestLine = 0;    // in bytes, its line end included
};

// One SELECT over the tables in the header's order, its columns named by their
// keys; a key that can't be a column's name (empty, or holding a NUL byte) is
// named column<N>, N its column's position in the result, from 0.
std::string joinSql(const std::vector<ExportedTable>& joined);
