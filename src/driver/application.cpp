#include "driver/application.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <iomanip>
#include <iterator>
#include <optional>
#include <sstream>
#include <unordered_map>

#include "driver/advice.h"
#include "driver/command_line.h"
#include "driver/help.h"
#include "driver/run_ending.h"
#include "join/join_executor.h"
#include "output/placed_file.h"
#include "output/result_writer.h"
#include "tables/table_parsing.h"
#include "text/string_helpers.h"

const char* const defaultSuffix = "1k.txt";

Application::Application(std::ostream& consoleStream, std::ostream& diagnosticsStream,
                         RunFiles runFiles, RunSettings runSettings)
    : console(consoleStream.rdbuf()),
      said(consoleStream.rdbuf()),
      diagnostics(diagnosticsStream.rdbuf()),
      files(std::move(runFiles)),
      settings(runSettings) {}

int Application::run(int argc, const char* const* argv) {
  const std::optional<CommandLine> line = parseCommandLine(argc, argv, diagnostics);
  if (!line) {
    return kFilesFailed;
  }
  if (line->help) {
    console << helpText() << std::flush;
    return kResultWritten;
  }
  if (line->version) {
    console << versionText() << std::flush;
    return kResultWritten;
  }
  if (line->quiet) {
    said.rdbuf(nullptr);
  }
  stats = line->stats;
  format = line->result;
  if (line->csvFolder) {
    if (line->files.size() > 1) {
      said << "Usage: prg [inputfile] [outputfile]\n";
      console << "Too many arguments!\n" << std::flush;
      return kFilesFailed;
    }
    return exportCsv(*line->csvFolder,
                     line->files.empty() ? std::string("input") + defaultSuffix : line->files[0]);
  }
  // Standard output carries the output file, under any name of it: the messages
  // go to standard error. Standard error that is a file carrying the output gets
  // no warnings or hints in its middle.
  const int outputDescriptor = line->files.size() == 2 ? descriptorNamed(line->files[1]) : -1;
  if (outputDescriptor == STDOUT_FILENO) {
    console.rdbuf(diagnostics.rdbuf());
    said.rdbuf(line->quiet ? nullptr : diagnostics.rdbuf());
    sayMessagesOnStandardError();
  } else if (outputDescriptor == STDERR_FILENO && identityOf(STDERR_FILENO).regular) {
    diagnostics.rdbuf(nullptr);
  }
  std::vector<const char*> names = {argc > 0 ? argv[0] : "prg"};
  for (const std::string& file : line->files) {
    names.push_back(file.c_str());
  }
  const int ran = runStages(static_cast<int>(names.size()), names.data());
  // The tables joined are read again from the input, which may have changed since.
  hintIfInputChanged();
  const int status = finishOutput(ran);
  if (stats) {
    reportStats();
  }
  return status;
}

void Application::reportStats() {
  using Seconds = std::chrono::duration<double>;
  const StageTimes::Clock::time_point ended = StageTimes::Clock::now();
  static constexpr const char* kNames[] = {"read", "parse", "index", "join and write"};
  std::ostringstream out;
  // "Output written." has no line end; on a terminal the stats start a line.
  if (settings.consoleSharesTerminal) {
    out << '\n';
  }
  out << std::fixed << std::setprecision(3) << "prg: stats:";
  for (std::size_t stage = 0; stage < std::size(kNames); ++stage) {
    const StageTimes::Clock::time_point begun = stageTimes.stages[stage];
    if (begun == StageTimes::Clock::time_point{}) {
      continue;
    }
    StageTimes::Clock::time_point next = ended;
    for (std::size_t later = stage + 1; later < std::size(kNames); ++later) {
      if (stageTimes.stages[later] != StageTimes::Clock::time_point{}) {
        next = stageTimes.stages[later];
        break;
      }
    }
    out << (stage == 0 ? " " : ", ") << kNames[stage] << ' ' << Seconds(next - begun).count()
        << " s";
  }
  out << "; " << Seconds(ended - stageTimes.started).count() << " s in all\n";
  constexpr std::size_t kTablesShown = 10;
  if (!joinList.empty() && !tables.empty()) {
    out << "prg: stats: rows:";
    for (std::size_t i = 0; i < std::min(joinList.size(), kTablesShown); ++i) {
      const Table* table = tableLookup.find(joinList[i]);
      out << (i == 0 ? " " : ", ") << escapedForConsole(joinList[i]) << ' '
          << (table == nullptr ? 0 : rowCount(*table));
    }
    out << (joinList.size() > kTablesShown ? ", ...\n" : "\n");
  }
  struct rusage usage {};
  getrusage(RUSAGE_SELF, &usage);
  out << "prg: stats: peak memory " << usage.ru_maxrss / 1024 << " MiB, " << usage.ru_minflt
      << " page faults\n";
  diagnostics << out.str() << std::flush;
}

void Application::enter(ProgressLine::Stage stage) {
  stageTimes.stages[static_cast<int>(stage)] = StageTimes::Clock::now();
  if (settings.progress != nullptr) {
    settings.progress->enter(stage);
  }
}

int Application::runStages(int argc, const char* const* argv) {
  enter(ProgressLine::Stage::kReading);
  if (!openFiles(argc, argv, defaultSuffix)) {
    return kFilesFailed;
  }
  enter(ProgressLine::Stage::kParsing);
  // The copy of the input goes to the output file while the text is parsed. What
  // parsing has to say waits until the copy is written, so that a failed copy is
  // reported first, as it happened first.
  std::ostringstream parsing;
  std::ostringstream hints;
  const int parsed = readHeader(parsing) ? readTables(parsing, hints) : kHeaderFailed;
  if (!output.flush()) {
    console << "Can't write output file!\n" << std::flush;
    return kOutputWriteFailed;
  }
  hintIfInputChanged();
  console << parsing.str() << std::flush;
  if (parsed == kTablesRead) {
    said << "Parsing the input file complete.\n" << std::flush;
  }
  if (parsed == kHeaderFailed) {
    // "Incorrect header" has no line end; on a terminal the hint starts a line.
    if (settings.consoleSharesTerminal) {
      diagnostics << '\n';
    }
    hintAtHeader(inputText.view(), diagnostics);
  }
  diagnostics << hints.str() << std::flush;
  if (parsed != kTablesRead) {
    return parsed;
  }
  warnOfRepeats(tables, diagnostics);
  tableLookup = TableLookup(tables);
  return joinChain();
}

void Application::hintIfInputChanged() {
  if (!inputChangeTold && inputText.changedSinceMapped()) {
    inputChangeTold = true;
    diagnostics << "prg: hint: the input file changed during the run; the run uses the text as "
                   "it read it\n"
                << std::flush;
  }
}

bool Application::readHeader(std::ostream& messages) {
  return ::readHeader(lines, joinList, messages);
}

RunStatus Application::readTables(std::ostream& messages, std::ostream& hints) {
  // A table joined once is read once as it is indexed, or as it is joined when it
  // is the first; its cells need not be held meanwhile. One joined again is kept.
  std::unordered_map<std::string_view, std::size_t> timesJoined;
  for (const std::string& name : joinList) {
    ++timesJoined[name];
  }
  const TablesOutcome outcome =
      ::readTables(inputText.view(), lines.position(), tables, messages, settings.parallelism,
                   kMaxTableRows, [&timesJoined](std::string_view name) {
                     const auto found = timesJoined.find(name);
                     return found == timesJoined.end() || found->second == 1;
                   });
  switch (outcome.kind) {
    case TablesOutcome::kBadDescriptor:
      messages << "Error parsing tableDescriptor: " << outcome.descriptor << '\n';
      hintAtRefusedLine(inputText.view(), outcome.refusedLine, false, hints);
      return kDescriptorFailed;
    case TablesOutcome::kBadData:
      messages << "Error reading table data from table: " << outcome.table->name << '\n';
      hintAtRefusedLine(inputText.view(), outcome.refusedLine, true, hints);
      return kTableDataFailed;
    case TablesOutcome::kRead:
      break;
  }
  return kTablesRead;
}

const Table* Application::findTable(const std::string& name) const {
  return tableLookup.find(name);
}

int Application::joinChain() {
  if (joinList.empty()) {
    console << "No tables in to join !\n" << std::flush;
    hintAtEmptyHeader(diagnostics);
    return kNoTablesToJoin;
  }
  said << "Joining the tables: " << std::flush;
  enter(ProgressLine::Stage::kIndexing);
  JoinPlan result;
  // Said once the line of dots is complete, not in the middle of it.
  std::ostringstream warnings;
  StepWarnings stepWarnings;
  for (std::size_t i = 0; i < joinList.size(); ++i) {
    const Table* table = findTable(joinList[i]);
    if (table == nullptr) {
      // A dot stands for each table joined before it.
      said << std::string(i == 0 ? 0 : i - 1, '.');
      console << "Table " << joinList[i] << "not found!\n" << std::flush;
      hintAtMissingTable(joinList[i], tables, inputText.view(), diagnostics);
      return kTableNotFound;
    }
    if (i == 0) {
      result = startJoin(*table);
      // A header may name a table a million times: its steps get their memory once.
      result.tables.reserve(joinList.size());
      result.steps.reserve(joinList.size() - 1);
      result.indexThreads = settings.parallelism.threads;
      result.payloadEncoder = format.encoder();
      stepWarnings.add(*table);
      continue;
    }
    stepWarnings.warnOfStep(result, *table, warnings);
    stepWarnings.add(*table);
    addJoinStep(result, *table);
  }
  keepRowsTheJoinReads(result);
  for (std::size_t step = 0; step < result.steps.size(); ++step) {
    indexStep(result, step);
    said << '.' << std::flush;
  }
  // The rows themselves are produced while they are written, so no joined table,
  // final or intermediate, is ever held in memory.
  said << "\nJoin complete.\n" << std::flush;
  stepWarnings.finish(warnings);
  diagnostics << warnings.str() << std::flush;
  result.name = "result";
  return writeResult(result);
}

void Application::keepRowsTheJoinReads(const JoinPlan& plan) {
  const std::vector<bool> read = levelsWhoseRowsAreRead(plan);
  // The first table's rows are read again part by part as they are joined.
  for (std::size_t level = 1; level < plan.tables.size(); ++level) {
    if (read[level] && plan.tables[level]->rowsLeftInText) {
      keepRows(tables[static_cast<std::size_t>(plan.tables[level] - tables.data())]);
    }
  }
}

int Application::writeResult(const JoinPlan& result) {
  JoinProgress progress;
  if (settings.progress != nullptr) {
    settings.progress->watch(&output, format.followsCopy() ? inputText.view().size() : 0,
                             &progress);
  }
  enter(ProgressLine::Stage::kWriting);
  ResultWriter writer(result, format, output);
  writer.writeStart();
  output.writer().beginParts();
  const JoinReport report = joinInParts(
      result, writer.wanted(), settings.parallelism, settings.joinWork,
      [&writer](std::size_t part, const PartRows& rows) { return writer.takePart(part, rows); },
      &progress);
  output.writer().endParts();
  if (settings.progress != nullptr) {
    settings.progress->watch(nullptr, 0, nullptr);
  }
  // A part stops early when its write fails or the work runs out; the output
  // tells them apart.
  if (!output.flush()) {
    console << "Can't write output file!\n" << std::flush;
    return kOutputWriteFailed;
  }
  if (report.workLimitReached) {
    diagnostics << "prg: the join stopped at the work limit it was given\n" << std::flush;
    return kJoinWorkLimitReached;
  }
  if (progress.rows.load() == 0) {
    warnOfEmptyResult(result, report.levelsWithRows, diagnostics);
  }
  return kResultWritten;
}

int Application::finishOutput(int status) {
  if (!outputOpened) {
    return status;
  }
  // Closing can fail too (a quota, a network file system), and so can giving the
  // file its name; the run is then not what it says it is.
  const bool whole = status == kResultWritten;
  const OutputFile::Keep keep = whole                   ? OutputFile::Keep::kEverything
                                : !format.followsCopy() ? OutputFile::Keep::kNothing
                                                        : OutputFile::Keep::kCopy;
  if (!output.finish(keep)) {
    if (status != kOutputWriteFailed) {
      console << "Can't write output file!\n" << std::flush;
    }
    return kOutputWriteFailed;
  }
  if (whole) {
    said << "Output written." << std::flush;
  }
  return status;
}
