// Warnings and hints for the people who run the tool: what a run found that they
// likely did not mean, and why a run failed. They go to standard error, a line
// each, after the run's own messages; none of them changes what a run does.
#pragma once

#include <ostream>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "join/join_plan.h"
#include "tables/table.h"

// The warnings of a join chain's steps, a few lines of each kind and then a count
// of the rest, found in time linear in the columns whatever their names.
class StepWarnings {
 public:
  // The keys of a table joined without a warning, the chain's first among them.
  void add(const Table& table);
  // Before a join step: right shares no column key with what the plan holds, so
  // the step pairs every row with every row; also a key that differs from one
  // before it only in letter case, tabs or carriage returns, the likely reason.
  void warnOfStep(const JoinPlan& plan, const Table& right, std::ostream& out);
  // For --no-cross: whether right shares no column key with what the plan holds;
  // then that message, and the likely reasons.
  bool refuseCrossStep(const JoinPlan& plan, const Table& right, std::ostream& out);
  // How many lines of each kind were left out.
  void finish(std::ostream& out) const;

 private:
  // The keys so far by what is left of them without letter case (and without tabs
  // and carriage returns).
  std::unordered_map<std::string, std::string> byCase_;
  std::unordered_map<std::string, std::string> byTabs_;
  // A few keys so far of each length, to look for one a key is a typo of.
  std::unordered_map<std::size_t, std::vector<std::string>> byLength_;
  bool sawTabs_ = false;  // in a key so far
  // The likely reasons for a step that shares no key: a key a few edits from one
  // before, tabs where commas were meant.
  void hintAtCrossStep(const Table& right, std::ostream& out) const;
  std::size_t crossSteps_ = 0;
  std::size_t caseKeys_ = 0;
  std::size_t tabKeys_ = 0;
};

// After a run whose result has no rows: the table at which the rows ran out,
// given the number of levels at which the join made partial rows.
void warnOfEmptyResult(const JoinPlan& plan, std::size_t levelsWithRows, std::ostream& out);

// After "Incorrect header": a byte order mark or a blank line before the header.
void hintAtHeader(std::string_view text, std::ostream& out);

// After a refused descriptor or data line starting at position of text, the
// contents of file: its line number, as FILE:LINE; tabs where commas were meant;
// for a data line of table (null for a descriptor), a comma at its end taken for
// an empty last cell, or a descriptor without the blank line before it.
void hintAtRefusedLine(std::string_view file, std::string_view text, std::size_t position,
                       const Table* table, std::ostream& out);

// After "No tables in to join !": what the header should read.
void hintAtEmptyHeader(std::ostream& out);

// After the tables are read: a table defined again (the join uses the first) and a
// column key given twice in one descriptor, a few lines of each kind.
void warnOfRepeats(const std::vector<Table>& tables, std::ostream& out);

// After the message that a table is missing: the tables there are, and the near misses.
void hintAtMissingTable(std::string_view file, const std::string& name,
                        const std::vector<Table>& tables, std::string_view text, std::ostream& out);
