// The notation in which tables are appended to the output file: a descriptor line
// "name(col, col)" and one line per row with "," between cells. Nothing is quoted or
// escaped; names, descriptors and cells are written byte for byte as stored.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "output/output_file.h"
#include "tables/table.h"

// Two line ends that set the table apart from what precedes it, then the descriptor
// line name(col1, col2, ...) with its line end.
void writeTableStart(OutputFile& out, std::string_view name, std::span<const std::string> columns);

// The cells with "," between neighbours, then a line end. Neighbours that stand in
// the input as they are written, with a single comma between them, go out as one
// piece: rows of tidy files are written with a copy or two instead of one per cell.
inline bool followsWithComma(std::string_view first, std::size_t runLength,
                             std::string_view next) {
  const auto runEnd = reinterpret_cast<std::uintptr_t>(first.data()) + runLength;
  return reinterpret_cast<std::uintptr_t>(next.data()) == runEnd + 1 && first.data()[runLength] == ',';
}

inline void writeRow(OutputFile& out, Cells cells) {
  std::size_t i = 0;
  while (i < cells.size()) {
    if (i != 0) {
      out.put(',');
    }
    const std::string_view first = cells[i];
    std::size_t runLength = first.size();
    for (++i; i < cells.size() && followsWithComma(first, runLength, cells[i]); ++i) {
      runLength += 1 + cells[i].size();
    }
    out.write(std::string_view(first.data(), runLength));
  }
  out.put('\n');
}
