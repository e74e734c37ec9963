// The natural join: tables are matched on the columns whose keys (the first word of
// the column descriptor) they share, and a chain of joins folds from left to right.
//
// A chain is planned first (result columns, common columns, and an index on every
// right table); its rows are then produced by the enumeration in joined_rows.h, in
// the order in which the left-to-right fold would hold them. No intermediate table
// is built.
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "join/hash_index.h"
#include "join/hash_index_builder.h"
#include "tables/table.h"

// The key of a column descriptor: its first field, cut at spaces ("id" of "id int");
// "" for an empty descriptor.
std::string descriptorKey(std::string_view descriptor);

// The key of column i of table.
std::string columnKey(const Table& table, std::size_t i);

// A column of the table at some level of the chain (level 0 is the first table,
// level k the right table of the k-th join).
struct ColumnSource {
  std::size_t level;
  std::size_t column;
};

// How one more table joins the rows accumulated so far. Its keys lie in the plan's
// lists of every step's keys, so that a chain of a million steps holds no list of
// its own for each.
struct JoinStep {
  std::size_t firstKey = 0;  // in JoinPlan::leftKeys and rightKeys
  std::size_t keyCount = 0;
  const HashIndex* index = nullptr;  // right rows by those cells, once indexed
};

// A joined table described by the tables it is joined from.
struct JoinPlan {
  std::string name;
  std::vector<std::string> columns;   // full descriptors of the result's columns
  std::vector<ColumnSource> sources;  // of each column; grouped by level, in order
  std::vector<const Table*> tables;   // by level
  std::vector<JoinStep> steps;        // steps[k] joins tables[k + 1]
  // The keys of every step, a step's after those of the step before. Of a step:
  // the accumulated cells to match, in key order, each read from the deepest level
  // known to hold those bytes whose table keeps its rows (a matched column holds
  // the same bytes as the column it matched, so a probe rarely has to look far
  // back, and a table left in its text is read only for a column it brought in);
  // and the right table's columns of the same keys.
  std::vector<ColumnSource> leftKeys;
  std::vector<std::size_t> rightKeys;
  std::span<const ColumnSource> leftKeysOf(std::size_t step) const {
    return std::span(leftKeys).subspan(steps[step].firstKey, steps[step].keyCount);
  }
  std::span<const std::size_t> rightKeysOf(std::size_t step) const {
    return std::span(rightKeys).subspan(steps[step].firstKey, steps[step].keyCount);
  }
  // The column that each key names, the last of several; kept up to date as steps
  // are added, so that a long chain is planned in time proportional to its length.
  std::map<std::string, std::size_t> columnOfKey;
  // Of each result column, the level it is read from (see JoinStep).
  std::vector<ColumnSource> freshestSource;
};

// A plan whose rows are those of first.
JoinPlan startJoin(const Table& first);

// Joins right onto everything the plan holds so far. Columns are matched by key:
// each right column whose key a result column already has is compared with the last
// such column; the others are appended. The step has no index yet.
void addJoinStep(JoinPlan& plan, const Table& right);

// Of each level, whether the join reads the cells of its rows: a later step takes
// a key from them. The first table's rows are always read.
std::vector<bool> levelsWhoseRowsAreRead(const JoinPlan& plan);

// The indexes a plan's steps point to, owned here: a table joined several times on
// the same columns is indexed once.
class StepIndexes {
 public:
  explicit StepIndexes(HashIndexBuilder builder = HashIndexBuilder()) : builder_(builder) {}

  // Builds the index of plan's step, or finds it built, and points the step to it.
  void index(JoinPlan& plan, std::size_t step);
  // The same for every step.
  void indexAll(JoinPlan& plan);

 private:
  HashIndexBuilder builder_;
  std::map<std::pair<const Table*, std::vector<std::size_t>>, std::unique_ptr<const HashIndex>>
      built_;
};
