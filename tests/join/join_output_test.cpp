// Whole runs on generated files, compared with a straightforward join written here:
// every pair of rows compared, the chain folded from left to right, the result
// written cell by cell. Cells are laid out in the input both tidily ("a,b") and with
// spaces around them, so that every way of writing a row is exercised.

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>
#include <vector>

#include "support/in_memory_run.h"

namespace {

using Strings = std::vector<std::string>;

struct PlainTable {
  std::string name;
  Strings columns;
  std::vector<Strings> rows;
};

std::string keyOf(const std::string& descriptor) {
  return descriptor.substr(0, descriptor.find(' '));
}

PlainTable referenceJoin(const PlainTable& left, const PlainTable& right) {
  std::map<std::string, std::size_t> leftKeys;
  for (std::size_t i = 0; i < left.columns.size(); ++i) {
    leftKeys[keyOf(left.columns[i])] = i;
  }
  PlainTable result{"", left.columns, {}};
  std::vector<std::pair<std::size_t, std::size_t>> common;
  std::vector<std::size_t> added;
  for (std::size_t j = 0; j < right.columns.size(); ++j) {
    const auto found = leftKeys.find(keyOf(right.columns[j]));
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

std::string render(const PlainTable& table) {
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

class Generator {
 public:
  explicit Generator(unsigned start) : random_(start) {}

  PlainTable table(const std::string& name) {
    PlainTable table{name, {}, {}};
    const std::size_t columnCount = 1 + pick(3);
    for (std::size_t i = 0; i < columnCount; ++i) {
      table.columns.push_back(std::string(1, static_cast<char>('a' + pick(3))) + " t" +
                              std::to_string(i));
    }
    table.rows.resize(pick(6));
    for (Strings& row : table.rows) {
      for (std::size_t i = 0; i < columnCount; ++i) {
        row.push_back(cell());
      }
    }
    return table;
  }

  // The table in the input notation, each data line in one of several layouts.
  std::string input(const PlainTable& table) {
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

 private:
  std::string cell() {
    static const char* const kCells[] = {"1", "2", "01", "x", "x y", "'p,q'", "\t"};
    return kCells[pick(6)];
  }
  std::size_t pick(std::size_t bound) { return random_() % (bound + 1); }

  std::mt19937 random_;
};

TEST(JoinOutputTest, RunsMatchReferenceJoin) {
  Generator generator(2024);
  for (int round = 0; round < 1500; ++round) {
    SCOPED_TRACE(round);
    const std::size_t tableCount = 1 + round % 4;
    std::vector<PlainTable> tables;
    std::string header = "join(";
    std::string body;
    for (std::size_t t = 0; t < tableCount; ++t) {
      tables.push_back(generator.table("T" + std::to_string(t)));
      header += (t == 0 ? "" : ", ") + tables.back().name;
      body += "\n" + generator.input(tables.back());
    }
    const std::string input = header + ")\n" + body;
    PlainTable expected = tables.front();
    for (std::size_t t = 1; t < tableCount; ++t) {
      expected = referenceJoin(expected, tables[t]);
    }
    expected.name = "result";

    InMemoryRun run(input);
    ASSERT_EQ(run.parseAndJoin(), kResultWritten) << input << run.consoleText();
    ASSERT_EQ(run.application.memoryOutput(), input + render(expected)) << input;
  }
}

}  // namespace
