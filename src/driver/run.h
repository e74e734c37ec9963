// One run of the tool, from its command line to its exit status: the files are
// chosen and captured, the captured text is parsed into tables, the tables the
// header names are joined from left to right and the result is appended. Each
// stage returns the status the run ends with, or nothing: the run goes on.
#pragma once

#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "driver/console.h"
#include "join/joined_rows.h"
#include "output/output_file.h"
#include "tables/input_text.h"
#include "threads/threads.h"

// How a run ends: the process's exit status.
enum RunStatus : int {
  kResultWritten = 0,
  kFilesFailed = 1,
  kHeaderFailed = 2,
  kDescriptorFailed = 3,
  kTableDataFailed = 4,
  kNoTablesToJoin = 5,
  kTableNotFound = 6,
  kOutputWriteFailed = 7,
  kOutOfMemory = 8,
  // The reader of the output's pipe left: the run ends silently, as SIGPIPE's
  // default action would end it.
  kOutputReaderLeft = 128 + 13,
};

// What a stage of a run returns: the status the run ends with, or nothing: the run
// goes on.
using Next = std::optional<int>;
inline constexpr std::nullopt_t kGoOn = std::nullopt;

// Where a run's bytes come from and go: the files on disk the command line names,
// or, in tests, text held in memory.
class RunFiles {
 public:
  virtual ~RunFiles() = default;
  // The whole input, taken; null on a failure, whose message and hints go to
  // console.
  virtual std::unique_ptr<InputSource> readInput(const std::string& name, Console& console) = 0;
  // Opens the output, unless it is the file the input was read from.
  virtual bool openOutput(const InputSource& input, const std::string& name, OutputFile& output,
                          Console& console) = 0;
};

class DiskFiles : public RunFiles {
 public:
  std::unique_ptr<InputSource> readInput(const std::string& name, Console& console) override;
  bool openOutput(const InputSource& input, const std::string& name, OutputFile& output,
                  Console& console) override;
};

// An open input file; standard input stays open: descriptor 0 must not go to the
// next file opened.
struct FileCloser {
  void operator()(std::FILE* file) const {
    if (file != stdin) {
      std::fclose(file);
    }
  }
};
using InputFile = std::unique_ptr<std::FILE, FileCloser>;
// Opens an input file for reading (standard input for "-"); null, with
// message::kCantOpenInput and the system's reason on console, when it can't.
InputFile openInputFile(const std::string& name, Console& console);
// How a file's name shows in hints: "-" is "(standard input)" or, for the output,
// "(standard output)".
std::string shownName(const std::string& name, bool output = false);
// The last line --stats prints: the process's peak memory and page faults.
std::string memoryStats();

// How a run spreads its work, and, for the fuzzer, a bound on the join's work.
struct RunSettings {
  Parallelism parallelism = machineParallelism();
  std::size_t pieceBytes = 0;  // of the text parsed at once; 0: chosen from its size
  std::size_t partRows = 0;    // of the first table joined at once; 0: chosen
  JoinWorkBudget* joinWork = nullptr;
  // The indexes are built while the copy of the input is written; off, after it,
  // in the order the stages say what they found. Either way the run says and
  // writes the same.
  bool indexWhileCopying = true;
};

// The whole command line: the help, the version, an export or a run; its status.
// endProcess, when given, is called with it once a run is over, before the run's
// memory is freed.
int runCommandLine(int argc, const char* const* argv, Console& console, RunFiles& files,
                   const RunSettings& settings = {}, void (*endProcess)(int status) = nullptr);
