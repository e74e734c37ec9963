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

bool readRowsAgain(std::string_view lines, RowList& rows, std::size_t most) {
  rows.clear();
  std::vector<std::string_view> fields;
  LineReader reader(lines);
  std::string_view line;
  bool asChecked = true;
  while (reader.nextFields(line, ',', fields)) {
    if (rows.size() == most) {
      asChecked = false;
      break;
    }
    // The run goes on with what it reads, in rows of the table's width.
    asChecked = fitToWidth(line, rows.width(), fields) && asChecked;
    rows.push_back(fields);
  }
  if (!asChecked) {
    noteInputChangedUnderRun();
  }
  return asChecked;
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
  // No more rows than were checked: row positions must stay below the limit.
  readRowsAgain(table.rowLines, table.rows, table.rowsInText);
  table.rowsLeftInText = false;
}

void readFields(std::string_view line, std::vector<std::string_view>& fields) {
  splitTrimmedInto(line, ',', fields);
}

bool fitToWidth(std::string_view line, std::size_t width, std::vector<std::string_view>& fields) {
  if (fields.size() == width) {
    return true;
  }
  // Empty cells that lie in the text, so that they are stored as any other cell.
  fields.resize(width, line.substr(line.size()));
  return false;
}
