// The notation in which tables are appended to the output file: a descriptor line
// "name(col, col)" and one line per row with "," between cells. Nothing is quoted or
// escaped; names, descriptors and cells are written byte for byte as stored.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "join/join_plan.h"
#include "join/joined_rows.h"
#include "output/output_file.h"
#include "tables/table.h"

// Two line ends that set the table apart from what precedes it, then the descriptor
// line name(col1, col2, ...) with its line end.
void writeTableStart(OutputFile& out, std::string_view name, std::span<const std::string> columns);

// Appends the joined table of plan: its descriptor line, then its rows as the join
// produces them. Stops as soon as a write fails or the join gives up at limit;
// false then, and when the output could not be flushed.
bool writeJoinedTable(const JoinPlan& plan, OutputFile& out, JoinWorkLimit limit = {});

// Whether next starts right after the runLength bytes from first.data() and a single
// comma: then those bytes, the comma and next read exactly as they are written.
inline bool followsWithComma(std::string_view first, std::size_t runLength, std::string_view next) {
  const auto runEnd = reinterpret_cast<std::uintptr_t>(first.data()) + runLength;
  return reinterpret_cast<std::uintptr_t>(next.data()) == runEnd + 1 &&
         first.data()[runLength] == ',';
}
