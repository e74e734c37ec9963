// The rows of a join plan, produced a chunk at a time in the order of the
// left-to-right fold: for each row of the first table, every matching row of the
// second in its order, for each of those every matching row of the third, and so on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <vector>

#include "join/join_plan.h"

// One partial row per entry at each level: its row of that level's table and the
// entry of the level before that it extends.
struct ChunkLevel {
  std::vector<std::uint32_t> rows;
  std::vector<std::uint32_t> parents;  // empty at level 0
};

// A chunk of joined rows, borrowed for the length of a sink call.
class JoinedChunk {
 public:
  explicit JoinedChunk(const std::vector<ChunkLevel>& levels) : levels_(levels) {}

  std::size_t size() const { return levels_.back().rows.size(); }
  // For every level with wanted[level], the row position of each joined row of the
  // chunk, in order, in positions[level]; one walk up the levels fills them all.
  void positionsByLevel(const std::vector<bool>& wanted,
                        std::vector<std::vector<std::uint32_t>>& positions) const;

 private:
  const std::vector<ChunkLevel>& levels_;
};

// Receives each chunk in order; returning false stops the enumeration.
using JoinedChunkSink = std::function<bool(const JoinedChunk&)>;

// The partial rows an enumeration may make before it gives up; no limit by default.
struct JoinWorkLimit {
  std::size_t partialRows = std::numeric_limits<std::size_t>::max();
};

// Hands every joined row of plan to sink, a chunk at a time. False when sink
// stopped it or the work limit was reached before the last row.
bool forEachJoinedChunk(const JoinPlan& plan, const JoinedChunkSink& sink,
                        JoinWorkLimit limit = {});

// Calls sink(cells) for every joined row, in order, until sink returns false.
bool forEachJoinedRow(const JoinPlan& plan, const std::function<bool(Cells)>& sink);
