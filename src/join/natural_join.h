// The natural join: tables are matched on the columns whose keys (the first word of
// the column descriptor) they share, and a chain of joins folds from left to right.
//
// A chain is planned first (result columns, common columns, and an index on every
// right table) and its rows are then produced one by one, in the order in which the
// left-to-right fold would hold them: for each row of the first table, every
// matching row of the second in its order, for each of those every matching row of
// the third, and so on. No intermediate table is built.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "join/row_index.h"
#include "tables/table.h"

// The key of a column descriptor: its first field, cut at spaces ("id" of "id int");
// "" for an empty descriptor.
std::string descriptorKey(std::string_view descriptor);

// The key of column i of table.
std::string columnKey(const Table& table, std::size_t i);

// How one more table joins the rows accumulated so far.
struct JoinStep {
  const Table* right;
  std::vector<std::size_t> leftKeyColumns;  // positions in the accumulated row
  std::vector<std::size_t> addedColumns;    // right columns the result gains
  std::unique_ptr<RowIndex> index;          // right rows by their common cells
};

// A result table described by the tables it is joined from.
struct JoinPlan {
  std::string name;
  std::vector<std::string> columns;  // full descriptors of the result's columns
  const Table* first = nullptr;
  std::vector<JoinStep> steps;
};

// A plan whose rows are those of first.
JoinPlan startJoin(const Table& first);

// Joins right onto everything the plan holds so far. Columns are matched by key:
// each right column whose key a result column already has is compared with the last
// such column; the others are appended.
void addJoinStep(JoinPlan& plan, const Table& right);

// Calls sink(Row) for every result row of plan, in order, until sink returns false.
// Returns false when sink stopped it.
template <typename Sink>
bool forEachJoinedRow(const JoinPlan& plan, Sink&& sink);

// The natural join of two tables, materialised; its name is empty.
Table joinTables(const Table& left, const Table& right);

namespace join_detail {

template <typename Sink>
class RowEnumerator {
 public:
  RowEnumerator(const JoinPlan& plan, Sink& sink)
      : plan_(plan), sink_(sink), row_(plan.columns.size()) {}

  bool run() {
    const std::size_t width = plan_.first->columns.size();
    for (Row firstRow : plan_.first->rows) {
      std::copy(firstRow.begin(), firstRow.end(), row_.begin());
      if (!extend(0, width)) {
        return false;
      }
    }
    return true;
  }

 private:
  bool extend(std::size_t stepNumber, std::size_t width) {
    if (stepNumber == plan_.steps.size()) {
      return sink_(Row(row_.data(), width));
    }
    const JoinStep& step = plan_.steps[stepNumber];
    key_.clear();
    for (std::size_t column : step.leftKeyColumns) {
      key_.push_back(row_[column]);
    }
    const std::size_t nextWidth = width + step.addedColumns.size();
    for (std::uint32_t match : step.index->find(key_)) {
      const Row right = step.right->rows[match];
      for (std::size_t i = 0; i < step.addedColumns.size(); ++i) {
        row_[width + i] = right[step.addedColumns[i]];
      }
      if (!extend(stepNumber + 1, nextWidth)) {
        return false;
      }
    }
    return true;
  }

  const JoinPlan& plan_;
  Sink& sink_;
  std::vector<std::string_view> row_;
  std::vector<std::string_view> key_;
};

}  // namespace join_detail

template <typename Sink>
bool forEachJoinedRow(const JoinPlan& plan, Sink&& sink) {
  join_detail::RowEnumerator<Sink> enumerator(plan, sink);
  return enumerator.run();
}
