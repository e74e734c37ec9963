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

// Calls sink(Cells) for every result row of plan, in order, until sink returns
// false. Returns false when sink stopped it.
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
    if (plan_.steps.empty()) {
      for (std::size_t i = 0; i < plan_.first->rows.size(); ++i) {
        if (!sink_(Cells(row_.data(), loadFirstRow(i)))) {
          return false;
        }
      }
      return true;
    }
    return runFirstStep();
  }

 private:
  // Probes of the first index come in the order of the first table's rows, so the
  // probes of the rows ahead are known: their index entries are fetched in stages,
  // kStage rows apart, and every probe then finds its memory in the cache.
  static constexpr std::size_t kStage = 4;
  static constexpr std::size_t kLead = 4 * kStage;
  static constexpr std::size_t kRing = 32;
  static_assert(kRing > kLead);

  bool runFirstStep() {
    const RowIndex& index = *plan_.steps.front().index;
    const std::size_t rowCount = plan_.first->rows.size();
    std::uint64_t hashes[kRing];
    for (std::size_t i = 0; i < rowCount + kLead; ++i) {
      if (i < rowCount) {
        loadFirstRow(i);
        hashes[i % kRing] = RowIndex::hashKey(gatherKey(plan_.steps.front()));
        index.prefetchSlot(hashes[i % kRing]);
      }
      if (i >= kStage && i - kStage < rowCount) {
        index.prefetchGroup(hashes[(i - kStage) % kRing]);
      }
      if (i >= 2 * kStage && i - 2 * kStage < rowCount) {
        index.prefetchFirstRow(hashes[(i - 2 * kStage) % kRing]);
      }
      if (i >= 3 * kStage && i - 3 * kStage < rowCount) {
        index.prefetchKeyText(hashes[(i - 3 * kStage) % kRing]);
      }
      if (i < kLead) {
        continue;
      }
      const std::size_t current = i - kLead;
      const std::size_t width = loadFirstRow(current);
      const Cells key = gatherKey(plan_.steps.front());
      if (!emitMatches(0, width, index.find(key, hashes[current % kRing]))) {
        return false;
      }
    }
    return true;
  }

  std::size_t loadFirstRow(std::size_t i) {
    const Row row = plan_.first->rows[i];
    for (std::size_t c = 0; c < row.size(); ++c) {
      row_[c] = row[c];
    }
    return row.size();
  }

  Cells gatherKey(const JoinStep& step) {
    key_.clear();
    for (std::size_t column : step.leftKeyColumns) {
      key_.push_back(row_[column]);
    }
    return key_;
  }

  bool extend(std::size_t stepNumber, std::size_t width) {
    if (stepNumber == plan_.steps.size()) {
      return sink_(Cells(row_.data(), width));
    }
    const JoinStep& step = plan_.steps[stepNumber];
    return emitMatches(stepNumber, width, step.index->find(gatherKey(step)));
  }

  bool emitMatches(std::size_t stepNumber, std::size_t width,
                   std::span<const std::uint32_t> matches) {
    const JoinStep& step = plan_.steps[stepNumber];
    const std::size_t nextWidth = width + step.addedColumns.size();
    for (std::uint32_t match : matches) {
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
