// The notation in which tables are appended to the output file: a descriptor line
// "name(col, col)" and one line per row with "," between cells. Nothing is quoted or
// escaped; names, descriptors and cells are written byte for byte as stored.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "output/output_file.h"
#include "tables/table.h"

// Two line ends that set the table apart from what precedes it, then the descriptor
// line name(col1, col2, ...) with its line end.
void writeTableStart(OutputFile& out, std::string_view name, std::span<const std::string> columns);

// The cells with "," between neighbours, then a line end.
inline void writeRow(OutputFile& out, Row cells) {
  for (std::size_t i = 0; i < cells.size(); ++i) {
    if (i != 0) {
      out.put(',');
    }
    out.write(cells[i]);
  }
  out.put('\n');
}

// The descriptor line and every row of table.
void writeTable(OutputFile& out, const Table& table);
