#include "join/join_executor.h"

#include <algorithm>
#include <string_view>

#include "tables/table_parsing.h"

namespace {

std::size_t rowsPerPart(std::size_t firstRows, JoinSpread spread) {
  if (spread.partRows != 0) {
    return spread.partRows;
  }
  return std::clamp<std::size_t>(firstRows / (8 * std::max(spread.threads, 1u)), 1024, 65536);
}

}  // namespace

JoinReport joinInParts(const JoinPlan& plan, const std::vector<LevelPositions>& wanted,
                       JoinSpread spread, const PartTaker& take, JoinProgress* progress,
                       JoinWorkBudget* budget) {
  const Table& first = *plan.tables.front();
  const std::size_t firstRows = rowCount(first);
  const std::size_t partRows = rowsPerPart(firstRows, spread);
  const std::size_t lineBytes = first.rowLines.size() / std::max<std::size_t>(firstRows, 1);
  const LineStretches lineParts(first.rowLines, partRows * std::max<std::size_t>(lineBytes, 1));
  const std::size_t parts =
      first.rowsLeftInText ? lineParts.count() : (firstRows + partRows - 1) / partRows;
  std::atomic<std::size_t> nextPart{0};
  std::atomic<bool> stopped{false};
  std::atomic<std::size_t> levelsWithRows{0};
  JoinProgress unwatched;
  JoinProgress& watched = progress != nullptr ? *progress : unwatched;
  watched.firstRows = firstRows;
  runOnThreads(
      static_cast<unsigned>(std::min<std::size_t>(spread.threads, std::max<std::size_t>(parts, 1))),
      [&](unsigned) {
        RowList again(first.columns.size(), first.rowLines.data());
        std::size_t reached = 0;
        for (std::size_t part = nextPart++; part < parts; part = nextPart++) {
          FirstRows rows{part * partRows, (part + 1) * partRows};
          if (first.rowsLeftInText && !stopped) {
            readRowsAgain(lineParts.stretch(part), again);
            rows = FirstRows{0, again.size(), &again};
          }
          const PartRows joinPart = [&](const JoinedChunkSink& sink) {
            if (stopped) {
              return true;
            }
            return forEachJoinedChunk(
                plan, wanted,
                [&sink, &watched](const JoinedChunk& chunk) {
                  watched.rows.fetch_add(chunk.size(), std::memory_order_relaxed);
                  return sink(chunk);
                },
                rows, budget, &reached);
          };
          if (!take(part, joinPart)) {
            stopped = true;
          }
          watched.firstRowsDone.fetch_add(
              std::min(rows.end, firstRows) - std::min(rows.begin, firstRows),
              std::memory_order_relaxed);
        }
        std::size_t known = levelsWithRows.load();
        while (known < reached && !levelsWithRows.compare_exchange_weak(known, reached)) {
        }
      });
  JoinReport report;
  report.complete = !stopped;
  report.levelsWithRows = levelsWithRows;
  return report;
}
