#include "support/reference_join.h"

#include <map>

std::string referenceKey(const std::string& descriptor) {
  bool quoted = false;
  for (std::size_t i = 0; i < descriptor.size(); ++i) {
    const bool escaped = i > 0 && descriptor[i - 1] == '\\' && (i < 2 || descriptor[i - 2] != '\\');
    if (descriptor[i] == '\'' && !escaped) {
      quoted = !quoted;
    }
    if (descriptor[i] == ' ' && !quoted) {
      return descriptor.substr(0, i);
    }
  }
  return descriptor;
}

PlainTable referenceJoin(const PlainTable& left, const PlainTable& right) {
  std::map<std::string, std::size_t> leftKeys;
  for (std::size_t i = 0; i < left.columns.size(); ++i) {
    leftKeys[referenceKey(left.columns[i])] = i;
  }
  PlainTable result{"", left.columns, {}};
  std::vector<std::pair<std::size_t, std::size_t>> common;
  std::vector<std::size_t> added;
  for (std::size_t j = 0; j < right.columns.size(); ++j) {
    const auto found = leftKeys.find(referenceKey(right.columns[j]));
    if (found == leftKeys.end()) {
      added.push_back(j);
      result.columns.push_back(right.columns[j]);
    } else {
      common.emplace_back(found->second, j);
    }
  }
  for (const Strings& l : left.rows) {
    for (const Strings& r : right.rows) {
      bool match = true;
      for (const auto& [i, j] : common) {
        match = match && l[i] == r[j];
      }
      if (!match) {
        continue;
      }
      Strings row = l;
      for (std::size_t j : added) {
        row.push_back(r[j]);
      }
      result.rows.push_back(row);
    }
  }
  return result;
}

std::string renderResult(const PlainTable& table) {
  std::string text = "\n\n" + table.name + "(";
  for (std::size_t i = 0; i < table.columns.size(); ++i) {
    text += (i == 0 ? "" : ", ") + table.columns[i];
  }
  text += ")\n";
  for (const Strings& row : table.rows) {
    for (std::size_t i = 0; i < row.size(); ++i) {
      text += (i == 0 ? "" : ",") + row[i];
    }
    text += "\n";
  }
  return text;
}

Table TableBuilder::make(const std::string& name, const Strings& columns,
                         const std::vector<Strings>& rows) {
  Table table = makeTable(name, columns);
  for (const Strings& row : rows) {
    std::vector<std::string_view> cells;
    for (const std::string& cell : row) {
      cells.push_back(storage_.emplace_back(cell));
    }
    table.rows.push_back(cells);
  }
  return table;
}

std::vector<Strings> rowsOf(const Table& table) {
  std::vector<Strings> rows;
  for (Row row : table.rows) {
    rows.emplace_back(row.begin(), row.end());
  }
  return rows;
}

PlainTable RandomTables::table(const std::string& name, bool parsable) {
  // Besides short cells, keys of the widths users have: 8 digits, 16 hex digits, a
  // UUID, each once more with its last byte changed.
  static const char* const kCells[] = {"",
                                       "1",
                                       "2",
                                       "01",
                                       "x",
                                       "x y",
                                       "'p,q'",
                                       "'a, b'",
                                       "\t",
                                       "12345678",
                                       "12345679",
                                       "0123456789abcdef",
                                       "0123456789abcdee",
                                       "3f2b8c1e-9d4a-4b7e-a1c5-6e0f2d9b8a71",
                                       "3f2b8c1e-9d4a-4b7e-a1c5-6e0f2d9b8a72"};
  PlainTable table{name, {}, {}};
  const std::size_t columnCount = parsable ? 1 + pick(2) : pick(4);
  const std::size_t firstCell = parsable ? 1 : 0;
  for (std::size_t i = 0; i < columnCount; ++i) {
    table.columns.push_back(std::string(1, static_cast<char>('a' + pick(4))) + " c" +
                            std::to_string(i));
  }
  table.rows.resize(pick(parsable ? 6 : 8));
  for (Strings& row : table.rows) {
    for (std::size_t i = 0; i < columnCount; ++i) {
      row.push_back(kCells[firstCell + pick(std::size(kCells) - 1 - firstCell)]);
    }
  }
  return table;
}

std::string RandomTables::input(const PlainTable& table) {
  std::string text = table.name + "(";
  for (std::size_t i = 0; i < table.columns.size(); ++i) {
    text += (i == 0 ? "" : ", ") + table.columns[i];
  }
  text += ")\n";
  for (const Strings& row : table.rows) {
    const std::size_t layout = pick(3);
    const char* separator = layout == 0 ? "," : layout == 1 ? ", " : " ,  ";
    for (std::size_t i = 0; i < row.size(); ++i) {
      text += (i == 0 ? "" : separator) + row[i];
    }
    text += pick(2) == 0 ? ",\n" : "\n";
  }
  return text + "\n";
}
