// The notation in which tables are appended to the output file: a descriptor line
// "name(col, col)" and one line per row with "," between cells. Nothing is quoted or
// escaped; names, descriptors and cells are written byte for byte as stored.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "join/natural_join.h"
#include "output/output_file.h"
#include "tables/table.h"

// Two line ends that set the table apart from what precedes it, then the descriptor
// line name(col1, col2, ...) with its line end.
void writeTableStart(OutputFile& out, std::string_view name, std::span<const std::string> columns);

// Whether next starts right after the runLength bytes from first.data() and a single
// comma: then those bytes, the comma and next read exactly as they are written.
inline bool followsWithComma(std::string_view first, std::size_t runLength, std::string_view next) {
  const auto runEnd = reinterpret_cast<std::uintptr_t>(first.data()) + runLength;
  return reinterpret_cast<std::uintptr_t>(next.data()) == runEnd + 1 &&
         first.data()[runLength] == ',';
}

// Writes the rows of a join plan. The cells each table adds to a joined row are
// looked at once per row of that table, not once per joined row: where they stand in
// the input exactly as they are to be written (one comma between neighbours, no
// spaces), that stretch of the input is copied as a whole.
class JoinedRowWriter {
 public:
  explicit JoinedRowWriter(const JoinPlan& plan);

  void write(OutputFile& out, const std::uint32_t* tuple) const {
    bool first = true;
    for (const Level& level : levels_) {
      if (!first) {
        out.put(',');
      }
      first = false;
      const std::uint32_t row = tuple[level.level];
      if (level.tidy[row]) {
        out.write(level.stretches[row][0]);
        continue;
      }
      writeCells(out, level, row);
    }
    out.put('\n');
  }

 private:
  struct Level {
    std::size_t level;
    const Table* table;
    std::vector<std::size_t> columns;  // the cells this level adds, in order
    std::vector<bool> tidy;            // per row: stretches holds its cells as written
    RowList stretches{1};
  };

  static void writeCells(OutputFile& out, const Level& level, std::uint32_t row);

  std::vector<Level> levels_;  // those that add at least one cell
};
