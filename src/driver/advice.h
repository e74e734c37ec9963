// Warnings and hints for the people who run the tool: what a run found that they
// likely did not mean, and why a run failed. They go to standard error, a line
// each, after the run's own messages; none of them changes what a run does.
#pragma once

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "join/join_plan.h"
#include "tables/table.h"

// Before a join step: right shares no column key with what the plan holds, so the
// step pairs every row with every row; also a key that differs from one before it
// only in letter case, the likely reason.
void warnOfStep(const JoinPlan& plan, const Table& right, std::ostream& out);

// After a run whose result has no rows: the table at which the rows ran out.
void warnOfEmptyResult(const JoinPlan& plan, std::ostream& out);

// After "Incorrect header": a byte order mark or a blank line before the header.
void hintAtHeader(std::string_view text, std::ostream& out);

// After a refused descriptor or data line starting at position of text: its line
// number, and for a data line that reads as a descriptor, the missing blank line.
void hintAtRefusedLine(std::string_view text, std::size_t position, bool dataLine,
                       std::ostream& out);

// After "Table <name>not found!": the tables there are, and the near misses.
void hintAtMissingTable(const std::string& name, const std::vector<Table>& tables,
                        std::string_view text, std::ostream& out);
