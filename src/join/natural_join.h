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
#include <map>
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

// Where a column of a joined row comes from: a column of the table at some level of
// the chain (level 0 is the first table, level k the right table of the k-th join).
struct ColumnSource {
  std::size_t level;
  std::size_t column;
};

// How one more table joins the rows accumulated so far.
struct JoinStep {
  std::vector<ColumnSource> leftKeys;  // accumulated cells to match, in key order
  std::unique_ptr<RowIndex> index;     // right rows by their cells of the same keys
};

// A joined table described by the tables it is joined from.
struct JoinPlan {
  std::string name;
  std::vector<std::string> columns;   // full descriptors of the result's columns
  std::vector<ColumnSource> sources;  // of each column; grouped by level, in order
  std::vector<const Table*> tables;   // by level
  std::vector<JoinStep> steps;        // steps[k] joins tables[k + 1]
  // The column that each key names, the last of several; kept up to date as steps
  // are added, so that a long chain is planned in time proportional to its length.
  std::map<std::string, std::size_t> columnOfKey;
  // The enumeration stops once the steps have made this many rows, partial ones
  // included; for runs on untrusted text whose products could not end otherwise.
  std::size_t workLimit = static_cast<std::size_t>(-1);
};

// A plan whose rows are those of first.
JoinPlan startJoin(const Table& first);

// Joins right onto everything the plan holds so far. Columns are matched by key:
// each right column whose key a result column already has is compared with the last
// such column; the others are appended.
void addJoinStep(JoinPlan& plan, const Table& right);

// Calls visit(tuple) for every joined row of plan, in order, until visit returns
// false; tuple points to the row's position in each of plan.tables. Returns false
// when visit stopped it.
template <typename Visitor>
bool forEachJoinedTuple(const JoinPlan& plan, Visitor&& visit);

// Calls sink(Cells) for every joined row of plan, in order, until sink returns
// false. Returns false when sink stopped it.
template <typename Sink>
bool forEachJoinedRow(const JoinPlan& plan, Sink&& sink);

// The natural join of two tables, materialised; its name is empty.
Table joinTables(const Table& left, const Table& right);

inline std::string_view cellOf(const JoinPlan& plan, const std::uint32_t* tuple,
                               ColumnSource source) {
  return plan.tables[source.level]->rows[tuple[source.level]][source.column];
}

namespace join_detail {

// Joined rows are found a chunk at a time. A partial row is a tuple of row
// positions: its row of the first table and its matching row of every step taken so
// far. Each step turns a chunk of tuples into the chunk of their extensions, in
// order, handing a chunk on to the next step whenever it is full; so the rows come
// out in the order of the left-to-right fold while memory stays bounded by the chunk
// size. Within a chunk, the probes of the tuples ahead are known, so the index
// fetches their entries before they are needed.
template <typename Visitor>
class TupleEnumerator {
 public:
  TupleEnumerator(const JoinPlan& plan, Visitor& visit)
      : plan_(plan),
        visit_(visit),
        workLeft_(plan.workLimit),
        hashes_(plan.steps.size()),
        chunks_(plan.tables.size()) {}

  bool run() {
    const std::size_t rowCount = plan_.tables.front()->rows.size();
    std::vector<std::uint32_t>& chunk = chunks_.front();
    for (std::size_t begin = 0; begin < rowCount; begin += kChunkPositions) {
      chunk.clear();
      for (std::size_t row = begin; row < rowCount && row < begin + kChunkPositions; ++row) {
        chunk.push_back(static_cast<std::uint32_t>(row));
      }
      if (!expand(0, chunk)) {
        return false;
      }
    }
    return true;
  }

 private:
  static constexpr std::size_t kChunkPositions = std::size_t{1} << 14;

  Cells gatherKey(const JoinStep& step, const std::uint32_t* tuple) {
    key_.clear();
    for (ColumnSource source : step.leftKeys) {
      key_.push_back(cellOf(plan_, tuple, source));
    }
    return key_;
  }

  // tuples holds partial rows that have taken stepNumber steps (stepNumber + 1
  // positions each).
  bool expand(std::size_t stepNumber, const std::vector<std::uint32_t>& tuples) {
    const std::size_t width = stepNumber + 1;
    const std::size_t count = tuples.size() / width;
    if (stepNumber == plan_.steps.size()) {
      for (std::size_t i = 0; i < count; ++i) {
        if (!visit_(&tuples[i * width])) {
          return false;
        }
      }
      return true;
    }
    const JoinStep& step = plan_.steps[stepNumber];
    const RowIndex& index = *step.index;
    std::vector<std::uint32_t>& extended = chunks_[stepNumber + 1];
    extended.clear();
    const auto hashOf = [this, &step, &tuples, width](std::size_t i) {
      return RowIndex::hashKey(gatherKey(step, &tuples[i * width]));
    };
    const auto extendTuple = [&](std::size_t i, std::uint64_t hash) {
      const std::uint32_t* tuple = &tuples[i * width];
      for (std::uint32_t match : index.find(gatherKey(step, tuple), hash)) {
        if (workLeft_ == 0) {
          return false;
        }
        for (std::size_t level = 0; level < width; ++level) {
          extended.push_back(tuple[level]);
        }
        extended.push_back(match);
        if (--workLeft_ == 0) {
          expand(stepNumber + 1, extended);
          return false;
        }
        if (extended.size() < kChunkPositions) {
          continue;
        }
        if (!expand(stepNumber + 1, extended)) {
          return false;
        }
        extended.clear();
      }
      return true;
    };
    // Chains can be long, so what each step keeps is on the heap, not the stack.
    if (!index.probeInOrder(count, hashes_[stepNumber], hashOf, extendTuple)) {
      return false;
    }
    return extended.empty() || expand(stepNumber + 1, extended);
  }

  const JoinPlan& plan_;
  Visitor& visit_;
  std::size_t workLeft_;
  std::vector<std::string_view> key_;
  std::vector<RowIndex::ProbeRing> hashes_;         // of the tuples ahead, by step
  std::vector<std::vector<std::uint32_t>> chunks_;  // the tuples of each level
};

}  // namespace join_detail

template <typename Visitor>
bool forEachJoinedTuple(const JoinPlan& plan, Visitor&& visit) {
  join_detail::TupleEnumerator<Visitor> enumerator(plan, visit);
  return enumerator.run();
}

template <typename Sink>
bool forEachJoinedRow(const JoinPlan& plan, Sink&& sink) {
  std::vector<std::string_view> row(plan.sources.size());
  return forEachJoinedTuple(plan, [&plan, &sink, &row](const std::uint32_t* tuple) {
    for (std::size_t c = 0; c < row.size(); ++c) {
      row[c] = cellOf(plan, tuple, plan.sources[c]);
    }
    return sink(Cells(row.data(), row.size()));
  });
}
