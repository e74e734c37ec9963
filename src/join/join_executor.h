// A plan's join run on several threads. The first table is cut into consecutive
// parts, each joined by one thread and handed to whoever takes the rows under its
// number; a taker that puts the parts back in their order (the output does) has
// the rows in the order of one pass.
//
// A first table whose rows were left in its text is read again part by part, into
// a list each thread fills again for every part, so that it is never held whole.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <vector>

#include "join/join_plan.h"
#include "join/joined_rows.h"
#include "threads/threads.h"

// How far the join has got, for a reader on another thread.
struct JoinProgress {
  std::atomic<std::size_t> rows{0};           // joined rows handed over
  std::atomic<std::size_t> firstRowsDone{0};  // rows of the first table done with
  std::atomic<std::size_t> firstRows{0};
};

// The joined rows of one part: a call hands them, a chunk at a time, in order, to
// sink, and returns false when sink or the work budget stopped them.
using PartRows = std::function<bool(const JoinedChunkSink& sink)>;
// Called once for every part, on the thread that joins it, which calls rows once.
// What it returns, false to stop the join, is what rows returned, or false.
using PartTaker = std::function<bool(std::size_t part, const PartRows& rows)>;

struct JoinReport {
  bool complete = true;  // false when a taker stopped it or the work budget ran out
  // The number of levels, from the first, at which a partial row was made.
  std::size_t levelsWithRows = 0;
};

// The threads the join spreads over, and the rows of the first table in a part
// (0: chosen from the number of its rows).
struct JoinSpread {
  unsigned threads = 1;
  std::size_t partRows = 0;
};

// Joins plan on spread's threads. progress, when given, is kept up to date a chunk
// at a time; budget, when given, bounds the partial rows the join makes.
JoinReport joinInParts(const JoinPlan& plan, const std::vector<LevelPositions>& wanted,
                       JoinSpread spread, const PartTaker& take, JoinProgress* progress = nullptr,
                       JoinWorkBudget* budget = nullptr);
