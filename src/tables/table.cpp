#include "tables/table.h"

#include <cassert>

void RowList::push_back(Row row) {
  assert(row.size() == width_);
  cells_.insert(cells_.end(), row.begin(), row.end());
  ++count_;
}

Table makeTable(std::string name, std::vector<std::string> columns) {
  Table table;
  table.name = std::move(name);
  table.rows = RowList(columns.size());
  table.columns = std::move(columns);
  return table;
}
