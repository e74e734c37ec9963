// One run of the tool: choosing and capturing the files, parsing the captured text
// into tables, joining the tables the header names and appending the result.
//
// Each stage is a member function that reports success; the first failure ends the
// run with a console message and one of the statuses below, which is also the
// process exit status.
#pragma once

#include <chrono>
#include <functional>
#include <iostream>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "driver/progress.h"
#include "join/join_plan.h"
#include "join/joined_rows.h"
#include "output/output_file.h"
#include "output/row_format.h"
#include "tables/input_text.h"
#include "tables/table.h"
#include "tables/table_parsing.h"
#include "threads/threads.h"

enum RunStatus : int {
  kTablesRead = -1,  // not an exit status: the tables are read and the run goes on
  kResultWritten = 0,
  kFilesFailed = 1,
  kHeaderFailed = 2,
  kDescriptorFailed = 3,
  kTableDataFailed = 4,
  kNoTablesToJoin = 5,
  kTableNotFound = 6,
  kOutputWriteFailed = 7,
  kOutOfMemory = 8,
  // Not a status of the program: only a run given a limit on the join's work (the
  // fuzzer's) ends so.
  kJoinWorkLimitReached = 9,
};

// Where a run's bytes come from and go: the files the command line names, or text
// held in memory, for tests and the fuzzer. Each writes its own message to the
// console when it fails.
struct RunFiles {
  // Captures the whole input file; the system's reason for a failure goes to hints.
  std::function<bool(const std::string& name, InputText& text, std::ostream& console,
                     std::ostream& hints)>
      readInput;
  // Opens the output file, unless it is the file the input was read from.
  std::function<bool(const InputText& input, const std::string& name, OutputFile& output,
                     std::ostream& console, std::ostream& hints)>
      openOutput;
};
RunFiles filesOnDisk();
// Opens an input file for reading; null, "Can't open input file!" written to console
// and the system's reason to hints, when it can't.
std::FILE* openInputFile(const std::string& path, std::ostream& console, std::ostream& hints);

// How a run spreads its work, and when it gives up: the fuzzer's runs end at a cap
// on the join's work, as if the output were full, since a product of many tables
// could otherwise run for hours.
struct RunSettings {
  Parallelism parallelism = machineParallelism();
  JoinWorkLimit joinWork;
  // Where a run of the program tells a person at a terminal how far it has got.
  ProgressLine* progress = nullptr;
  // Standard output and error are one terminal: a line on standard error after a
  // message without a line end ("Incorrect header") starts a line of its own.
  bool consoleSharesTerminal = false;
};

// What --stats reports: when each stage began.
struct StageTimes {
  using Clock = std::chrono::steady_clock;
  Clock::time_point started = Clock::now();
  Clock::time_point stages[4] = {};  // by ProgressLine::Stage
};

class Application {
 public:
  // Messages go to console, warnings and hints (never a message of the run's own)
  // to diagnostics; a run of the program passes standard output and error and the
  // files on disk.
  explicit Application(std::ostream& console = std::cout, std::ostream& diagnostics = std::cerr,
                       RunFiles files = filesOnDisk(), RunSettings settings = {});

  // The whole run; returns its status.
  int run(int argc, const char* const* argv);

  // Chooses the file names from the arguments (or from "input"/"output" + suffix),
  // captures the input and starts the output with a verbatim copy of it.
  bool openFiles(int argc, const char* const* argv, std::string suffix);
  // Reads the join header (the first line) into joinList; a refusal goes to
  // messages.
  bool readHeader(std::ostream& messages);
  // Reads every table after the header into tables; its messages go to messages,
  // hints on a refused line to hints.
  RunStatus readTables(std::ostream& messages, std::ostream& hints);
  // The first table of that name, or null.
  const Table* findTable(const std::string& name) const;
  // Joins the tables of joinList from left to right and appends the result.
  int joinChain();
  // Says once, on standard error, that the input changed while it was read.
  void hintIfInputChanged();
  // Reads again, to hold them, the rows of the tables left in the text whose cells
  // the join reads.
  void keepRowsTheJoinReads(const JoinPlan& plan);
  // The other kind of run, prg --csv FOLDER [inputfile]: each table of the input
  // as FOLDER/<name>.csv; its status as a run's.
  int exportCsv(const std::string& folder, const std::string& inputName);
  // Appends the joined table to the output file in the input notation, row by row
  // as the join produces them; the run's status.
  int writeResult(const JoinPlan& result);

 private:
  int runStages(int argc, const char* const* argv);
  // Says what --stats asks for, on diagnostics.
  void reportStats();
  // Gives the output its name as status implies; the status the run ends with.
  int finishOutput(int status);
  void enter(ProgressLine::Stage stage);

  InputText inputText;
  OutputFile output;
  bool outputOpened = false;
  bool inputChangeTold = false;
  std::vector<std::string> joinList;
  std::vector<Table> tables;
  TableLookup tableLookup;

  // The run's messages: to the console given, or to diagnostics when the output
  // goes to standard output. said carries the lines of a run that goes well, which
  // --quiet drops.
  std::ostream console;
  std::ostream said;
  // Warnings and hints, dropped when standard error is the output file.
  std::ostream diagnostics;
  bool stats = false;
  // The result's format; one other than the notation's holds the joined table alone.
  RowFormat format;
  StageTimes stageTimes;
  RunFiles files;
  RunSettings settings;
  LineReader lines{std::string_view()};
};

// The suffix of the default file names input1k.txt and output1k.txt.
extern const char* const defaultSuffix;
