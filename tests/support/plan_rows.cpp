#include "support/plan_rows.h"

#include <string_view>
#include <vector>

#include "join/joined_rows.h"

bool forEachJoinedRow(const JoinPlan& plan, const std::function<bool(Cells)>& sink) {
  std::vector<LevelPositions> wanted(plan.tables.size(), LevelPositions::kNone);
  for (ColumnSource source : plan.sources) {
    wanted[source.level] = LevelPositions::kRows;
  }
  std::vector<std::vector<std::uint64_t>> positions;
  std::vector<std::string_view> row(plan.sources.size());
  const auto sinkRows = [&](const JoinedChunk& chunk) {
    chunk.positionsByLevel(wanted, positions);
    for (std::size_t i = 0; i < chunk.size(); ++i) {
      for (std::size_t c = 0; c < row.size(); ++c) {
        const ColumnSource source = plan.sources[c];
        row[c] = plan.tables[source.level]->rows[positions[source.level][i]][source.column];
      }
      if (!sink(Cells(row.data(), row.size()))) {
        return false;
      }
    }
    return true;
  };
  return forEachJoinedChunk(plan, wanted, sinkRows, FirstRows{}, nullptr);
}

Table joinTables(const Table& left, const Table& right) {
  JoinPlan plan = startJoin(left);
  addJoinStep(plan, right);
  StepIndexes indexes;
  indexes.indexAll(plan);
  Table result = makeTable("", plan.columns);
  forEachJoinedRow(plan, [&result](Cells row) {
    result.rows.push_back(row);
    return true;
  });
  return result;
}
