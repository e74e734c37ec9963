#include "output/join_sql.h"

#include <map>
#include <utility>

namespace {

constexpr std::size_t kDefaultMaxLineSize = 2000000;

std::string quoted(const std::string& text, char quote) {
  std::string out(1, quote);
  for (const char byte : text) {
    if (byte == quote) {
      out.push_back(quote);
    }
    out.push_back(byte);
  }
  out.push_back(quote);
  return out;
}

std::string column(std::size_t table, std::size_t j) {
  std::string name = "t";
  name.append(std::to_string(table)).append(".c").append(std::to_string(j));
  return name;
}

std::string readCsv(const ExportedTable& table) {
  std::string names;
  for (std::size_t j = 0; j < table.keys.size(); ++j) {
    names.append(j == 0 ? "" : ", ").append("'c").append(std::to_string(j)).append("'");
  }
  std::string call = "read_csv(";
  // A path of its own folder, which no reader takes for a home folder.
  call.append(quoted("./" + table.file, '\''));
  // Longer lines than DuckDB reads by default are told, or it refuses them.
  if (table.longestLine > kDefaultMaxLineSize) {
    call.append(", max_line_size = ").append(std::to_string(table.longestLine + 1));
  }
  call.append(", header = true, all_varchar = true, delim = ',', quote = '\"', escape = '\"',\n")
      .append("    names = [")
      .append(names)
      .append("], force_not_null = [")
      .append(names)
      .append("])");
  return call;
}

}  // namespace

std::string joinSql(const std::vector<ExportedTable>& joined) {
  std::string from;
  std::vector<std::pair<std::string, std::string>> selected;  // key, source column
  std::map<std::string, std::string> sourceOfKey;             // the latest column of a key
  for (std::size_t t = 0; t < joined.size(); ++t) {
    const ExportedTable& table = joined[t];
    std::string on;
    std::vector<std::pair<std::string, std::string>> added;
    std::vector<std::pair<std::string, std::string>> matched;  // applied after the step
    for (std::size_t j = 0; j < table.keys.size(); ++j) {
      const auto found = t == 0 ? sourceOfKey.end() : sourceOfKey.find(table.keys[j]);
      if (found == sourceOfKey.end()) {
        added.emplace_back(table.keys[j], column(t, j));
        continue;
      }
      on.append(on.empty() ? "" : " AND ").append(found->second).append(" = ").append(column(t, j));
      matched.emplace_back(table.keys[j], column(t, j));
    }
    std::string item = readCsv(table);
    item.append(" AS t").append(std::to_string(t));
    if (t == 0) {
      from.append("FROM ").append(item);
    } else if (on.empty()) {
      from.append("\nCROSS JOIN ").append(item);
    } else {
      from.append("\nJOIN ").append(item).append("\n  ON ").append(on);
    }
    for (auto& [key, source] : matched) {
      sourceOfKey[key] = source;
    }
    for (auto& [key, source] : added) {
      selected.emplace_back(key, source);
      sourceOfKey[key] = source;
    }
  }
  std::string sql =
      "-- The join of the exported tables, as prg joins them: run it from this folder,\n"
      "-- duckdb < join.sql\n"
      "SELECT";
  for (std::size_t i = 0; i < selected.size(); ++i) {
    const std::string& key = selected[i].first;
    const bool nameable = !key.empty() && key.find('\0') == std::string::npos;
    sql.append(i == 0 ? "\n  " : ",\n  ")
        .append(selected[i].second)
        .append(" AS ")
        .append(nameable ? quoted(key, '"') : "column" + std::to_string(i));
  }
  sql.append("\n").append(from).append(";\n");
  return sql;
}
