// The two line formats that name tables: the join header "join(A, B)" on line 1 and
// the descriptor line "name(col, col)" that opens each table.

#include "tables/table_parsing.h"

#include "text/split.h"
#include "text/string_helpers.h"

bool readHeader(LineReader& lines, std::vector<std::string>& joinList, std::ostream& console) {
  std::string_view firstLine;
  lines.next(firstLine);
  std::string header(firstLine);
  removeChar(header, ' ');
  if (!stripPrefix(header, "join(") || !stripSuffix(header, ")")) {
    console << "Incorrect header";
    return false;
  }
  joinList = split(header, ',');
  return true;
}

bool parseTableDescriptor(std::string line, std::vector<Table>& tables) {
  tables.emplace_back();
  Table& table = tables.back();
  const std::size_t open = line.find('(');
  if (open == std::string::npos) {
    return false;
  }
  table.name = line.substr(0, open);
  line.erase(0, open + 1);
  if (!stripSuffix(line, ")")) {
    return false;
  }
  for (const std::string& piece : split(line, ',')) {
    table.columns.push_back(trimmedCopy(piece));
  }
  table.rows = RowList(table.columns.size());
  return true;
}

TableLookup::TableLookup(const std::vector<Table>& tables) {
  firstByName_.reserve(tables.size());
  for (const Table& table : tables) {
    firstByName_.try_emplace(table.name, &table);
  }
}

const Table* TableLookup::find(const std::string& name) const {
  const auto found = firstByName_.find(name);
  return found == firstByName_.end() ? nullptr : found->second;
}
