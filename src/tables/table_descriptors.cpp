// The two line formats that name tables: the join header "join(A, B)" on line 1 and
// the descriptor line "name(col, col)" that opens each table.

#include "driver/application.h"
#include "text/split.h"
#include "text/string_helpers.h"

bool Application::readHeader() {
  std::string_view firstLine;
  nextLine(firstLine);
  std::string header(firstLine);
  removeChar(header, ' ');
  if (!stripPrefix(header, "join(") || !stripSuffix(header, ")")) {
    console << "Incorrect header";
    return false;
  }
  joinList = split(header, ',');
  return true;
}

bool Application::parseTableDescriptor(std::string line) {
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

const Table* Application::findTable(const std::string& name) const {
  for (const Table& table : tables) {
    if (table.name == name) {
      return &table;
    }
  }
  return nullptr;
}
