// The notation in which tables are appended to the output file: a descriptor line
// "name(col, col)" and one line per row with "," between cells. Nothing is quoted or
// escaped; names, descriptors and cells are written byte for byte as stored. A plan
// whose cells are CSV is written as standard CSV instead: a line of column keys,
// then the rows, lines ended by CRLF.
#pragma once

#include <atomic>
#include <cstddef>
#include <span>
#include <string>
#include <string_view>

#include "join/join_plan.h"
#include "join/joined_rows.h"
#include "output/output_file.h"
#include "threads/threads.h"

// Two line ends that set the table apart from what precedes it, then the descriptor
// line name(col1, col2, ...) with its line end.
void writeTableStart(OutputFile& out, std::string_view name, std::span<const std::string> columns);

// The first line of a CSV result: the column keys of columns.
void writeCsvHeader(OutputFile& out, std::span<const std::string> columns);

// Appends the joined table of plan: its descriptor line, then its rows as the join
// produces them, on the given number of threads, in consecutive stretches of the
// first table that reach the file in order. Stops as soon as a write fails or the
// join gives up at limit, and says which.
// How far the writing has got, for a reader on another thread.
struct WriteProgress {
  std::atomic<std::size_t> rows{0};           // joined rows handed to the output
  std::atomic<std::size_t> firstRowsDone{0};  // rows of the first table done with
  std::atomic<std::size_t> firstRows{0};
};

// progress, when given, is kept up to date a chunk at a time.
enum class WriteOutcome { kWritten, kWriteFailed, kWorkLimitReached };
WriteOutcome writeJoinedTable(const JoinPlan& plan, OutputFile& out, Parallelism parallelism,
                              JoinWorkLimit limit = {}, WriteProgress* progress = nullptr);
