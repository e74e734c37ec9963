// Data lines: one row per line after a descriptor, cut at commas, up to a blank line.

#include "tables/table_parsing.h"

#include <algorithm>

#include "text/split.h"
#include "text/string_helpers.h"

bool readTableData(LineReader& lines, Table& table, std::ostream& console, std::size_t maxRows) {
  std::vector<std::string_view> fields;
  std::string_view line;
  while (lines.next(line)) {
    line = trimmedView(line);
    if (line.empty()) {
      return true;
    }
    splitInto(line, ',', fields);
    if (fields.size() != table.columns.size()) {
      printFields(fields, console);
      console << "rszie: " << fields.size() << " ; colsize: " << table.columns.size() << '\n';
      console << "Wrong number of columns in line: " << line << '\n';
      return false;
    }
    if (rowCount(table) == maxRows) {
      console << "Too many rows in table: " << table.name << " (at most " << maxRows << ")\n";
      return false;
    }
    for (std::string_view& field : fields) {
      field = trimmedView(field);
    }
    table.rows.push_back(fields);
  }
  return true;
}

void readRowsAgain(std::string_view lines, RowList& rows) {
  rows.clear();
  std::vector<std::string_view> fields;
  LineReader reader(lines);
  std::string_view line;
  while (reader.next(line)) {
    readFields(line, fields);
    // Only a text that changed since it was checked has a line of another width;
    // the run goes on with what it reads, in rows of the table's width.
    fields.resize(rows.width());
    rows.push_back(fields);
  }
}

std::size_t LineStretches::start(std::size_t number) const {
  const std::size_t at = number * bytes_;
  if (at == 0 || at >= lines_.size()) {
    return std::min(at, lines_.size());
  }
  if (lines_[at - 1] == '\n') {
    return at;
  }
  const std::size_t lineEnd = lines_.find('\n', at);
  return lineEnd == std::string_view::npos ? lines_.size() : lineEnd + 1;
}

void keepRows(Table& table) {
  table.rows = RowList(table.columns.size(), table.rowLines.data());
  readRowsAgain(table.rowLines, table.rows);
  table.rowsLeftInText = false;
}

void readFields(std::string_view line, std::vector<std::string_view>& fields) {
  splitInto(trimmedView(line), ',', fields);
  for (std::string_view& field : fields) {
    field = trimmedView(field);
  }
}
