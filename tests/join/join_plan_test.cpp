#include "join/join_plan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "join/joined_rows.h"
#include "output/result_writer.h"
#include "support/memory_files.h"
#include "support/plan_rows.h"
#include "support/reference_join.h"

namespace {

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
  StepIndexes indexes;
  indexes.indexAll(plan);
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

// The materialised join of two random tables, and the chain of three, against the
// reference's left fold.
TEST(JoinPlanTest, ChainMatchesLeftToRightFold) {
  RandomTables random(777);
  for (int round = 0; round < 4000; ++round) {
    SCOPED_TRACE(round);
    const PlainTable plain[] = {random.table("A", false), random.table("B", false),
                                random.table("C", false)};
    TableBuilder builder;
    const Table tables[] = {builder.make(plain[0]), builder.make(plain[1]), builder.make(plain[2])};
    PlainTable folded = plain[0];
    JoinPlan plan = startJoin(tables[0]);
    StepIndexes indexes;
    for (int i = 1; i < 3; ++i) {
      folded = referenceJoin(folded, plain[i]);
      addJoinStep(plan, tables[i]);
      indexes.indexAll(plan);
      if (i == 1) {
        const Table pair = joinTables(tables[0], tables[1]);
        ASSERT_EQ(pair.columns, folded.columns);
        ASSERT_EQ(rowsOf(pair), folded.rows);
      }
    }
    std::vector<Strings> streamed;
    forEachJoinedRow(plan, [&streamed](Cells row) {
      streamed.emplace_back(row.begin(), row.end());
      return true;
    });
    ASSERT_EQ(plan.columns, folded.columns);
    ASSERT_EQ(streamed, folded.rows);
  }
}

// Hashes under which distinct keys collide: an index must still tell the keys
// apart by their bytes, and find what a plain map finds.
std::uint64_t oneHashForAll(std::string_view) {
  return 42;
}
std::uint64_t hashOfLastByte(std::string_view cell) {
  return cell.empty() ? 0 : static_cast<unsigned char>(cell.back());
}
std::uint64_t hashOfLength(std::string_view cell) {
  return cell.size();
}

// The payloads of a match, in order.
std::vector<std::string> payloadsOf(const HashIndex& index, HashIndex::Match match) {
  std::vector<std::string> payloads;
  for (std::uint64_t place = match.payload; payloads.size() < match.count;
       place = index.nextPayload(place)) {
    payloads.emplace_back(index.payload(place));
  }
  return payloads;
}

// Large tables are indexed in many partitions, on several threads; every key must
// find its rows, in table order, whether the hashes keep keys apart or not, and
// whether the table keeps its rows or is read from its text.
TEST(HashIndexTest, FindsWhatAMapFinds) {
  std::vector<Strings> rows;
  std::string lines;
  std::map<std::string, std::vector<std::uint32_t>> expected;
  const auto keyText = [](int key) {
    return key % 3 == 0 ? "long key " + std::to_string(key) : std::to_string(key);
  };
  for (int i = 0; i < 100000; ++i) {
    const std::string key = keyText((i * 7919) % 30011);
    rows.push_back({key, std::to_string(i)});
    lines.append(key).append(" , ").append(std::to_string(i)).append("\n");
    expected[key].push_back(static_cast<std::uint32_t>(i));
  }
  TableBuilder builder;
  const Table table = builder.make("T", {"k", "v"}, rows);
  Table leftInText = makeTable("T", {"k", "v"});
  leftInText.rowsLeftInText = true;
  leftInText.rowLines = lines;
  leftInText.rowsInText = rows.size();
  const struct {
    const char* what;
    KeyHash::CellHash hash;
    unsigned threads;
  } cases[] = {{"one thread", hashBytes, 1},
               {"threads", hashBytes, 4},
               {"colliding hashes on threads", hashOfLastByte, 2}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const HashIndexBuilder indexBuilder(c.threads, KeyHash(c.hash));
    const HashIndex index = indexBuilder.build(table, {0});
    const HashIndex fromText = indexBuilder.build(leftInText, {0});
    EXPECT_EQ(index.groupCount(), expected.size());
    EXPECT_EQ(fromText.groupCount(), expected.size());
    for (int key = 0; key < 30100; ++key) {
      const std::string text = keyText(key);
      const std::string_view cell = text;
      const Cells probe(&cell, 1);
      const HashIndex::Match match = index.find(probe, index.probeFor(probe));
      const auto found = match.positions();
      const auto entry = expected.find(text);
      const std::vector<std::uint32_t> none;
      const std::vector<std::uint32_t>& want = entry == expected.end() ? none : entry->second;
      ASSERT_TRUE(std::equal(found.begin(), found.end(), want.begin(), want.end())) << key;
      std::vector<std::string> payloads;
      for (const std::uint32_t row : want) {
        payloads.push_back(std::to_string(row));
      }
      ASSERT_EQ(payloadsOf(index, match), payloads) << key;
      ASSERT_EQ(payloadsOf(fromText, fromText.find(probe, fromText.probeFor(probe))), payloads)
          << key;
    }
    // The batched lookups, whose prefetches walk ahead of them, give each key the
    // probe and the match a single lookup gives it.
    for (const HashIndex* each : {&index, &fromText}) {
      HashIndex::ProbeRing ring{};
      std::string text;
      std::string_view cell;
      const Cells probe(&cell, 1);
      std::size_t visited = 0;
      const auto probeOf = [&](std::size_t key) {
        text = keyText(static_cast<int>(key));
        cell = text;
        return each->probeFor(probe);
      };
      each->probeInOrder(30100, ring, true, probeOf, [&](std::size_t key, HashIndex::Probe got) {
        const std::string own = keyText(static_cast<int>(key));
        const std::string_view ownCell = own;
        const Cells ownKey(&ownCell, 1);
        const HashIndex::Match single = each->find(ownKey, each->probeFor(ownKey));
        const HashIndex::Match batched = each->find(ownKey, got);
        EXPECT_EQ(batched.count, single.count) << key;
        EXPECT_EQ(batched.payload, single.payload) << key;
        EXPECT_EQ(batched.rows, single.rows) << key;
        return ++visited < 30050;
      });
      EXPECT_EQ(visited, 30050u);
    }
  }
}

// The bytes a plan writes for its result.
std::string writtenResult(const JoinPlan& plan, JoinSpread spread) {
  StringSink collected;
  OutputFile out;
  out.openOn(collected);
  ResultWriter writer(plan, RowFormat(), out);
  writer.writeStart();
  out.writer().beginParts();
  const JoinReport report = joinInParts(
      plan, writer.wanted(), spread,
      [&writer](std::size_t part, const PartRows& rows) { return writer.takePart(part, rows); });
  out.writer().endParts();
  EXPECT_TRUE(out.flush());
  EXPECT_TRUE(report.complete);
  return collected.bytes();
}

// Chains of up to eight random tables, keys of every width among them, written on
// two threads in small parts and enumerated row by row, under hashes that keep
// keys apart and under hashes that make most of them collide.
TEST(JoinPlanTest, ChainsAgreeWithReferenceUnderAnyHash) {
  const struct {
    const char* what;
    KeyHash::CellHash hash;
  } hashes[] = {{"real hash", hashBytes},
                {"one hash for all", oneHashForAll},
                {"hash of the last byte", hashOfLastByte},
                {"hash of the length", hashOfLength}};
  RandomTables random(4242);
  for (int round = 0; round < 600; ++round) {
    SCOPED_TRACE(round);
    const std::size_t count = 2 + round % 7;
    std::vector<PlainTable> plain;
    TableBuilder builder;
    std::vector<Table> tables;
    for (std::size_t t = 0; t < count; ++t) {
      plain.push_back(random.table(std::string(1, static_cast<char>('A' + t)), false));
    }
    for (const PlainTable& table : plain) {
      tables.push_back(builder.make(table));
    }
    PlainTable expected = plain.front();
    for (std::size_t t = 1; t < count; ++t) {
      expected = referenceJoin(expected, plain[t]);
    }
    expected.name = "result";
    for (const auto& h : hashes) {
      SCOPED_TRACE(h.what);
      JoinPlan plan = startJoin(tables.front());
      plan.name = "result";
      for (std::size_t t = 1; t < count; ++t) {
        addJoinStep(plan, tables[t]);
      }
      StepIndexes indexes(HashIndexBuilder(1, KeyHash(h.hash)));
      indexes.indexAll(plan);
      ASSERT_EQ(writtenResult(plan, JoinSpread{2, 1}), renderResult(expected));
      std::vector<Strings> streamed;
      forEachJoinedRow(plan, [&streamed](Cells row) {
        streamed.emplace_back(row.begin(), row.end());
        return true;
      });
      ASSERT_EQ(streamed, expected.rows);
    }
  }
}

// Large groups: met by every left row (a product), by runs of left rows of one
// key, by keys in turn, and cut by chunk borders anywhere in them.
TEST(JoinPlanTest, LargeGroupsMetAgainAgreeWithReference) {
  const struct {
    const char* what;
    int leftRows;
    int rightRows;
    int keys;  // 0: no common column
    bool runsOfOneKey;
  } cases[] = {{"a product", 40, 300, 0, false},
               {"runs of one key", 60, 500, 3, true},
               {"keys in turn", 60, 500, 3, false},
               {"groups too large to keep", 3, 70000, 1, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    PlainTable left{"L", {c.keys == 0 ? "a" : "k", "l"}, {}};
    PlainTable right{"R", {c.keys == 0 ? "b" : "k", "r"}, {}};
    for (int i = 0; i < c.leftRows; ++i) {
      const int key = c.keys == 0 ? i : (c.runsOfOneKey ? i * c.keys / c.leftRows : i % c.keys);
      left.rows.push_back({std::string("key").append(std::to_string(key)),
                           std::string("l").append(std::to_string(i))});
    }
    for (int i = 0; i < c.rightRows; ++i) {
      const int key = c.keys == 0 ? i : i % c.keys;
      right.rows.push_back(
          {std::string("key").append(std::to_string(key)), std::string(i % 7, 'r')});
    }
    PlainTable expected = referenceJoin(left, right);
    expected.name = "result";
    TableBuilder builder;
    const Table tables[] = {builder.make(left), builder.make(right)};
    JoinPlan plan = startJoin(tables[0]);
    plan.name = "result";
    addJoinStep(plan, tables[1]);
    StepIndexes indexes;
    indexes.indexAll(plan);
    // In one stretch, chunk borders fall inside groups; in stretches of 7 rows, a
    // group is met again by another thread.
    EXPECT_EQ(writtenResult(plan, JoinSpread{1, 0}), renderResult(expected));
    EXPECT_EQ(writtenResult(plan, JoinSpread{2, 7}), renderResult(expected));
  }
}

// Keys crafted to share a hash would make an index quadratic, so the hash starts
// from a random value of each process: this test program, started again, hashes the
// same bytes differently.
TEST(HashIndexTest, HashIsSeededPerProcess) {
  const std::string hash = std::to_string(hashBytes("the same bytes"));
  if (std::getenv("PRG_PRINT_HASH") != nullptr) {
    std::printf("hash=%s\n", hash.c_str());
    return;
  }
  FILE* child = popen(
      "PRG_PRINT_HASH=1 /proc/$PPID/exe --gtest_filter=HashIndexTest.HashIsSeededPerProcess", "r");
  ASSERT_NE(child, nullptr);
  std::string printed;
  char block[256];
  for (std::size_t got; (got = std::fread(block, 1, sizeof block, child)) > 0;) {
    printed.append(block, got);
  }
  pclose(child);
  const std::size_t at = printed.find("hash=");
  ASSERT_NE(at, std::string::npos) << printed;
  const std::string childHash = printed.substr(at + 5, printed.find('\n', at) - at - 5);
  EXPECT_NE(childHash, hash);
}

}  // namespace
