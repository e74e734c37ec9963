// Data lines: one row per line after a descriptor, cut at commas, up to a blank line.

#include "driver/application.h"
#include "text/split.h"
#include "text/string_helpers.h"

bool Application::readTableData(Table& table) {
  std::vector<std::string_view> fields;
  std::string_view line;
  while (nextLine(line)) {
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
    for (std::string_view& field : fields) {
      field = trimmedView(field);
    }
    table.rows.push_back(fields);
  }
  return true;
}
