// The joined table of a plan, written to the output as its rows are made, in the
// format the run asks for (see RowFormat).
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
#include "output/row_format.h"

namespace result_layout {
class RowLayout;
}

// Writes the joined table of a plan: its start (see RowFormat::tableStart), then
// its rows as the join hands them over, part by part, each into the output's part
// of the same number.
class ResultWriter {
 public:
  ResultWriter(const JoinPlan& plan, const RowFormat& format, OutputFile& out);
  ~ResultWriter();

  void writeStart();
  // What the writer reads of each level of a joined chunk.
  const std::vector<LevelPositions>& wanted() const;
  // A taker of the join's parts; false once the output has failed.
  bool takePart(std::size_t part, const PartRows& rows);

 private:
  const JoinPlan& plan_;
  RowFormat format_;
  OutputFile& out_;
  std::unique_ptr<result_layout::RowLayout> layout_;
};
