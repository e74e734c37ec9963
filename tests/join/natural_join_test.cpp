#include "join/natural_join.h"

#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

using Strings = std::vector<std::string>;

// Tables in these tests own their cell text here, so that views stay valid.
class TableBuilder {
 public:
  Table make(const std::string& name, const Strings& columns, const std::vector<Strings>& rows) {
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

 private:
  std::deque<std::string> storage_;
};

std::vector<Strings> rowsOf(const Table& table) {
  std::vector<Strings> rows;
  for (Row row : table.rows) {
    rows.emplace_back(row.begin(), row.end());
  }
  return rows;
}

// The join as the plain definition states it: every pair of rows is compared on
// every right column whose key the left table has, against the last left column of
// that key.
std::vector<Strings> nestedLoopJoin(const Table& left, const Table& right, Strings& columns) {
  std::map<std::string, std::size_t> leftKeys;
  columns = left.columns;
  for (std::size_t i = 0; i < left.columns.size(); ++i) {
    leftKeys[columnKey(left, i)] = i;
  }
  std::vector<std::pair<std::size_t, std::size_t>> common;
  std::vector<std::size_t> added;
  for (std::size_t j = 0; j < right.columns.size(); ++j) {
    const auto found = leftKeys.find(columnKey(right, j));
    if (found == leftKeys.end()) {
      added.push_back(j);
      columns.push_back(right.columns[j]);
    } else {
      common.emplace_back(found->second, j);
    }
  }
  std::vector<Strings> rows;
  for (Row l : left.rows) {
    for (Row r : right.rows) {
      bool match = true;
      for (const auto& [i, j] : common) {
        match = match && l[i] == r[j];
      }
      if (!match) {
        continue;
      }
      Strings row(l.begin(), l.end());
      for (std::size_t j : added) {
        row.emplace_back(r[j]);
      }
      rows.push_back(row);
    }
  }
  return rows;
}

TEST(ColumnKeyTest, FirstWordOfDescriptor) {
  TableBuilder builder;
  const Table table =
      builder.make("T", {"id int", "id", "id  int", "'first name' text", "", "\tx y"}, {});
  const Strings expected = {"id", "id", "id", "'first name'", "", "\tx"};
  for (std::size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(columnKey(table, i), expected[i]);
  }
}

TEST(JoinTablesTest, WorkedExample) {
  TableBuilder builder;
  const Table t1 =
      builder.make("t1", {"id int", "name text"}, {{"1", "Ann"}, {"2", "Bob"}, {"3", "Cid"}});
  const Table t2 = builder.make("t2", {"id integer", "city text"},
                                {{"1", "Oslo"}, {"3", "Rome"}, {"1", "Bergen"}});
  const Table result = joinTables(t1, t2);
  EXPECT_EQ(result.name, "");
  EXPECT_EQ(result.columns, (Strings{"id int", "name text", "city text"}));
  EXPECT_EQ(
      rowsOf(result),
      (std::vector<Strings>{{"1", "Ann", "Oslo"}, {"1", "Ann", "Bergen"}, {"3", "Cid", "Rome"}}));
}

TEST(JoinTablesTest, LongKeysMatchByEveryByte) {
  TableBuilder b;
  const std::string key(40, 'k');
  const Table left = b.make("L", {"k", "l"}, {{key, "1"}, {key + "x", "2"}, {key.substr(1), "3"}});
  const Table right = b.make("R", {"k", "r"}, {{key + "x", "a"}, {key, "b"}, {key + "y", "c"}});
  EXPECT_EQ(rowsOf(joinTables(left, right)),
            (std::vector<Strings>{{key, "1", "b"}, {key + "x", "2", "a"}}));
}

TEST(JoinPlanTest, SinkCanStopTheRows) {
  TableBuilder b;
  const Table left = b.make("L", {"a"}, {{"1"}, {"2"}, {"3"}});
  const Table right = b.make("R", {"b"}, {{"x"}, {"y"}});
  JoinPlan plan = startJoin(left);
  addJoinStep(plan, right);
  std::vector<Strings> seen;
  EXPECT_FALSE(forEachJoinedRow(plan, [&seen](Cells row) {
    seen.emplace_back(row.begin(), row.end());
    return seen.size() < 3;
  }));
  EXPECT_EQ(seen, (std::vector<Strings>{{"1", "x"}, {"1", "y"}, {"2", "x"}}));
}

TEST(JoinTablesTest, EdgeCases) {
  TableBuilder b;
  const struct {
    const char* what;
    Table left;
    Table right;
    Strings columns;
    std::vector<Strings> rows;
  } cases[] = {
      {"no common key: cross product, left-major",
       b.make("L", {"a"}, {{"A"}, {"B"}}),
       b.make("R", {"b"}, {{"X"}, {"Y"}}),
       {"a", "b"},
       {{"A", "X"}, {"A", "Y"}, {"B", "X"}, {"B", "Y"}}},
      {"right without rows",
       b.make("L", {"a", "k"}, {{"1", "2"}}),
       b.make("R", {"k", "c"}, {}),
       {"a", "k", "c"},
       {}},
      {"left without rows", b.make("L", {"a"}, {}), b.make("R", {"b"}, {{"1"}}), {"a", "b"}, {}},
      {"self join keeps duplicates",
       b.make("L", {"a", "b"}, {{"1", "x"}, {"1", "x"}}),
       b.make("R", {"a", "b"}, {{"1", "x"}, {"1", "x"}}),
       {"a", "b"},
       {{"1", "x"}, {"1", "x"}, {"1", "x"}, {"1", "x"}}},
      {"keys differ in case",
       b.make("L", {"ID"}, {{"1"}}),
       b.make("R", {"id"}, {{"2"}}),
       {"ID", "id"},
       {{"1", "2"}}},
      {"shared left key compares the last left column",
       b.make("L", {"k a", "k b"}, {{"1", "2"}, {"2", "1"}}),
       b.make("R", {"k c"}, {{"2"}}),
       {"k a", "k b"},
       {{"1", "2"}}},
      {"two right columns against one left column",
       b.make("L", {"k"}, {{"1"}, {"2"}}),
       b.make("R", {"k x", "k y", "v"}, {{"1", "1", "a"}, {"2", "1", "b"}}),
       {"k", "v"},
       {{"1", "a"}}},
      {"two right columns with a new key",
       b.make("L", {"a"}, {{"1"}}),
       b.make("R", {"n x", "n y"}, {{"p", "q"}}),
       {"a", "n x", "n y"},
       {{"1", "p", "q"}}},
      {"cells compared exactly",
       b.make("L", {"k", "l"}, {{"1", "a"}, {"Ann", "b"}, {"", "c"}}),
       b.make("R", {"k", "r"}, {{"01", "x"}, {"ann", "y"}, {"", "z"}, {"1 ", "w"}}),
       {"k", "l", "r"},
       {{"", "c", "z"}}},
      {"empty descriptors share the empty key",
       b.make("L", {"", "a"}, {{"e", "1"}}),
       b.make("R", {" ", "b"}, {{"e", "2"}, {"f", "3"}}),
       {"", "a", "b"},
       {{"e", "1", "2"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const Table result = joinTables(c.left, c.right);
    EXPECT_EQ(result.columns, c.columns);
    EXPECT_EQ(rowsOf(result), c.rows);
  }
}

// Random small tables full of the situations that trip an index: duplicate keys,
// shared left keys, repeated right keys, empty cells and no common column at all.
class RandomTables {
 public:
  explicit RandomTables(unsigned start) : random_(start) {}

  Table make(TableBuilder& builder) {
    const std::size_t columnCount = pick(4);
    Strings columns;
    for (std::size_t i = 0; i < columnCount; ++i) {
      columns.push_back(std::string(1, static_cast<char>('a' + pick(4))) + " c" +
                        std::to_string(i));
    }
    std::vector<Strings> rows(pick(8));
    for (Strings& row : rows) {
      for (std::size_t i = 0; i < columnCount; ++i) {
        const std::size_t value = pick(4);
        row.push_back(value == 0 ? "" : std::to_string(value));
      }
    }
    return builder.make("T", columns, rows);
  }

 private:
  std::size_t pick(std::size_t bound) { return random_() % (bound + 1); }
  std::mt19937 random_;
};

TEST(JoinTablesTest, MatchesNestedLoopOnRandomTables) {
  RandomTables random(12345);
  for (int round = 0; round < 4000; ++round) {
    SCOPED_TRACE(round);
    TableBuilder builder;
    const Table left = random.make(builder);
    const Table right = random.make(builder);
    Strings columns;
    const std::vector<Strings> expected = nestedLoopJoin(left, right, columns);
    const Table result = joinTables(left, right);
    ASSERT_EQ(result.columns, columns);
    ASSERT_EQ(rowsOf(result), expected);
  }
}

TEST(JoinPlanTest, ChainMatchesLeftToRightFold) {
  RandomTables random(777);
  for (int round = 0; round < 1000; ++round) {
    SCOPED_TRACE(round);
    TableBuilder builder;
    const Table tables[] = {random.make(builder), random.make(builder), random.make(builder)};
    Table folded = tables[0];
    JoinPlan plan = startJoin(tables[0]);
    for (int i = 1; i < 3; ++i) {
      Strings columns;
      const std::vector<Strings> rows = nestedLoopJoin(folded, tables[i], columns);
      folded = builder.make("", columns, rows);
      addJoinStep(plan, tables[i]);
    }
    std::vector<Strings> streamed;
    forEachJoinedRow(plan, [&streamed](Cells row) {
      streamed.emplace_back(row.begin(), row.end());
      return true;
    });
    ASSERT_EQ(plan.columns, folded.columns);
    ASSERT_EQ(streamed, rowsOf(folded));
  }
}

}  // namespace
