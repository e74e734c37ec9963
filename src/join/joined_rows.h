// The rows of a join plan, produced a chunk at a time in the order of the
// left-to-right fold: for each row of the first table, every matching row of the
// second in its order, for each of those every matching row of the third, and so on.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <vector>

#include "join/join_plan.h"

// One partial row per entry at each level: its row of that level's table and the
// entry of the level before that it extends. Past level 0, an entry also records
// where the payload of its row lies in the step's index; its row position is
// kept only where someone reads it.
struct ChunkLevel {
  std::vector<std::uint32_t> rows;
  std::vector<std::uint32_t> parents;   // empty at level 0
  std::vector<std::uint64_t> payloads;  // empty at level 0
  // The level-0 entry each extends, where keys are read from the first table
  // many levels down: a walk up the parents would grow with the chain.
  std::vector<std::uint32_t> origins;
};

// What a reader of a chunk wants to know of each level.
enum class LevelPositions : unsigned char {
  kNone,
  kRows,      // row positions in the level's table
  kPayloads,  // places of the rows' payloads in the step's index (not at level 0)
};

// A chunk of joined rows, borrowed for the length of a sink call.
class JoinedChunk {
 public:
  JoinedChunk(const std::vector<ChunkLevel>& levels, const RowList& firstRows)
      : levels_(levels), firstRows_(firstRows) {}

  std::size_t size() const {
    return levels_.back().parents.empty() ? levels_.back().rows.size()
                                          : levels_.back().parents.size();
  }
  // For every level that wanted them, the positions of each joined row of the
  // chunk, in order, in positions[level]; one walk up the levels fills them all.
  void positionsByLevel(const std::vector<LevelPositions>& wanted,
                        std::vector<std::vector<std::uint64_t>>& positions) const;
  // The rows that the positions at level 0 count in: the first table's, or those
  // of its lines that were read again for this chunk.
  const RowList& firstRows() const { return firstRows_; }

 private:
  const std::vector<ChunkLevel>& levels_;
  const RowList& firstRows_;
};

// Receives each chunk in order; returning false stops the enumeration.
using JoinedChunkSink = std::function<bool(const JoinedChunk&)>;

// The partial rows a join may still make before it gives up, shared by the
// enumerations of one join on several threads; it is drawn on once per chunk, not
// per row. A caller that bounds a join's work (the fuzzer) passes one; a join
// without one is not bounded, and pays nothing for it.
class JoinWorkBudget {
 public:
  explicit JoinWorkBudget(std::size_t partialRows) : left_(partialRows) {}
  // False when fewer than count partial rows were left.
  bool draw(std::size_t count);
  bool exhausted() const { return exhausted_.load(std::memory_order_relaxed); }

 private:
  std::atomic<std::size_t> left_;
  std::atomic<bool> exhausted_{false};
};

// A stretch of the rows of the first table: of its own rows, or of rows read
// again from its lines (then rows points to them).
struct FirstRows {
  std::size_t begin = 0;
  std::size_t end = std::numeric_limits<std::size_t>::max();
  const RowList* rows = nullptr;
};

// Hands every joined row of plan that extends a row of first to sink, a chunk at a
// time, with the positions that wanted names for each level. False when sink
// stopped it or the budget ran out before the last row. When levelsWithRows is
// given, it is raised to the number of levels, from the first, at which a partial
// row was made: the level where a plan without rows runs out of them.
bool forEachJoinedChunk(const JoinPlan& plan, const std::vector<LevelPositions>& wanted,
                        const JoinedChunkSink& sink, FirstRows first, JoinWorkBudget* budget,
                        std::size_t* levelsWithRows = nullptr);
