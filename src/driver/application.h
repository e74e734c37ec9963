// One run of the tool: choosing and capturing the files, parsing the captured text
// into tables, joining the tables the header names and appending the result.
//
// Each stage is a member function that reports success; the first failure ends the
// run with a console message and one of the statuses below, which is also the
// process exit status.
#pragma once

#include <cstddef>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "driver/captured_text.h"
#include "join/natural_join.h"
#include "output/output_file.h"
#include "tables/table.h"

enum RunStatus : int {
  kResultWritten = 0,
  kFilesFailed = 1,
  kHeaderFailed = 2,
  kDescriptorFailed = 3,
  kTableDataFailed = 4,
  kNoTablesToJoin = 5,
  kTableNotFound = 6,
  kOutputWriteFailed = 7,
};

class Application {
 public:
  // Messages go to console; a run of the program passes standard output.
  explicit Application(std::ostream& console = std::cout);

  // The whole run; returns its status.
  int run(int argc, const char* const* argv);

  // Chooses the file names from the arguments (or from "input"/"output" + suffix),
  // captures the input and starts the output with a verbatim copy of it.
  bool openFiles(int argc, const char* const* argv, std::string suffix);

  // Takes text as the captured input and collects the output in memory, so that
  // the later stages can run without any file.
  void useInMemoryFiles(std::string_view text);
  const std::string& memoryOutput() const { return output.memoryText(); }

  // Everything after the files are open: header, tables, join chain and result.
  int parseAndJoin();

  // Reads the join header (the first line) into joinList.
  bool readHeader();
  // Appends one table made from a trimmed descriptor line such as "T(id int, name)".
  bool parseTableDescriptor(std::string line);
  // Reads the data lines that follow a descriptor, up to a blank line or the end.
  bool readTableData(Table& table);
  // The first table of that name, or null.
  const Table* findTable(const std::string& name) const;
  // Joins the tables of joinList from left to right and appends the result.
  int joinChain();
  // Appends the joined table to the output file in the input notation, row by row
  // as the join produces them; false when the output could not be written.
  bool writeResult(const JoinPlan& result);

  // Stops the join chain once it has made this many rows, partial ones included;
  // for runs on untrusted text whose products could not be written anyway.
  void limitJoinWork(std::size_t limit) { joinWorkLimit = limit; }

  const std::vector<std::string>& joinedNames() const { return joinList; }
  const std::vector<Table>& parsedTables() const { return tables; }

 private:
  bool readInputFile(const std::string& path);
  bool openOutputFile(const std::string& inputName, const std::string& outputName);
  // The next line of the captured text, without its line end (a "\r" before the
  // "\n" belongs to the line end); false once the text is exhausted.
  bool nextLine(std::string_view& line);

  CapturedText inputText;
  OutputFile output;
  std::vector<std::string> joinList;
  std::vector<Table> tables;

  std::ostream& console;
  std::size_t readPosition = 0;
  std::size_t joinWorkLimit = static_cast<std::size_t>(-1);
};

// The suffix of the default file names input1k.txt and output1k.txt.
extern const char* const defaultSuffix;
