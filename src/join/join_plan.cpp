#include "join/join_plan.h"

#include "text/split.h"

std::string descriptorKey(std::string_view descriptor) {
  std::vector<std::string_view> fields;
  splitInto(descriptor, ' ', fields);
  return fields.empty() ? std::string() : std::string(fields.front());
}

std::string columnKey(const Table& table, std::size_t i) {
  return descriptorKey(table.columns[i]);
}

JoinPlan startJoin(const Table& first) {
  JoinPlan plan;
  plan.name = first.name;
  plan.columns = first.columns;
  plan.tables.push_back(&first);
  for (std::size_t c = 0; c < first.columns.size(); ++c) {
    plan.sources.push_back({0, c});
    plan.columnOfKey[columnKey(first, c)] = c;
  }
  plan.freshestSource = plan.sources;
  return plan;
}

std::vector<bool> levelsWhoseRowsAreRead(const JoinPlan& plan) {
  std::vector<bool> read(plan.tables.size(), false);
  read.front() = true;
  for (const ColumnSource source : plan.leftKeys) {
    read[source.level] = true;
  }
  return read;
}

void StepIndexes::index(JoinPlan& plan, std::size_t step) {
  const std::span<const std::size_t> keys = plan.rightKeysOf(step);
  std::vector<std::size_t> keyColumns(keys.begin(), keys.end());
  const Table& table = *plan.tables[step + 1];
  std::unique_ptr<const HashIndex>& built = built_[{&table, keyColumns}];
  if (built == nullptr) {
    built = std::make_unique<const HashIndex>(builder_.build(table, keyColumns));
  }
  plan.steps[step].index = built.get();
}

void StepIndexes::indexAll(JoinPlan& plan) {
  for (std::size_t step = 0; step < plan.steps.size(); ++step) {
    index(plan, step);
  }
}

void addJoinStep(JoinPlan& plan, const Table& right) {
  // The plan's columns are those of the table a left-to-right fold would have
  // built so far. Right keys are looked up among them only, not among each other.
  const std::map<std::string, std::size_t>& leftKeyIndex = plan.columnOfKey;
  std::vector<std::pair<std::string, std::size_t>> addedKeys;
  std::vector<std::pair<std::size_t, std::size_t>> matchedColumns;
  const std::size_t level = plan.tables.size();
  plan.tables.push_back(&right);
  JoinStep step;
  step.firstKey = plan.leftKeys.size();
  for (std::size_t j = 0; j < right.columns.size(); ++j) {
    std::string key = columnKey(right, j);
    const auto found = leftKeyIndex.find(key);
    if (found == leftKeyIndex.end()) {
      addedKeys.emplace_back(std::move(key), plan.columns.size());
      plan.columns.push_back(right.columns[j]);
      plan.sources.push_back({level, j});
      plan.freshestSource.push_back({level, j});
      continue;
    }
    plan.leftKeys.push_back(plan.freshestSource[found->second]);
    plan.rightKeys.push_back(j);
    ++step.keyCount;
    matchedColumns.emplace_back(found->second, j);
  }
  plan.steps.push_back(std::move(step));
  if (!right.rowsLeftInText) {
    for (auto [column, j] : matchedColumns) {
      plan.freshestSource[column] = {level, j};
    }
  }
  for (auto& [key, column] : addedKeys) {
    plan.columnOfKey[std::move(key)] = column;
  }
}
