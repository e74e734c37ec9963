// The notation in which tables are appended to the output file: a descriptor line
// "name(col, col)" and one line per row with "," between cells. Nothing is quoted or
// escaped; names, descriptors and cells are written byte for byte as stored. A plan
// whose cells are CSV is written as standard CSV instead: a line of column keys,
// then the rows, lines ended by CRLF.
#pragma once

#include <cstddef>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "join/join_executor.h"
#include "join/join_plan.h"
#include "join/joined_rows.h"
#include "output/output_file.h"

// Two line ends that set the table apart from what precedes it, then the descriptor
// line name(col1, col2, ...) with its line end.
void writeTableStart(OutputFile& out, std::string_view name, std::span<const std::string> columns);

// The first line of a CSV result: the column keys of columns.
void writeCsvHeader(OutputFile& out, std::span<const std::string> columns);

namespace rendering {
class RowLayout;
}

// Writes the joined table of a plan: its descriptor line (or CSV header), then its
// rows as the join hands them over, part by part, each into the output's part of
// the same number.
class ResultWriter {
 public:
  ResultWriter(const JoinPlan& plan, OutputFile& out);
  ~ResultWriter();

  void writeStart();
  // What the writer reads of each level of a joined chunk.
  const std::vector<LevelPositions>& wanted() const;
  // A taker of the join's parts; false once the output has failed.
  bool takePart(std::size_t part, const PartRows& rows);

 private:
  const JoinPlan& plan_;
  OutputFile& out_;
  std::unique_ptr<rendering::RowLayout> layout_;
};
