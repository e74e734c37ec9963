#include "driver/run.h"

#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <iomanip>
#include <iterator>
#include <sstream>
#include <unordered_map>
#include <vector>

#include "driver/advice.h"
#include "driver/export.h"
#include "driver/messages.h"
#include "driver/options.h"
#include "join/join_executor.h"
#include "join/join_plan.h"
#include "output/placed_file.h"
#include "output/result_writer.h"
#include "tables/table.h"
#include "tables/table_parsing.h"
#include "text/string_helpers.h"

namespace {

// The suffix of the default file names input1k.txt and output1k.txt.
constexpr std::string_view kDefaultSuffix = "1k.txt";

// What --stats reports: when each stage began.
struct StageTimes {
  using Clock = std::chrono::steady_clock;
  Clock::time_point started = Clock::now();
  Clock::time_point stages[4] = {};  // by ProgressLine::Stage
};

class Run {
 public:
  Run(const CommandLine& line, Console& console, RunFiles& files, const RunSettings& settings)
      : line_(line), console_(console), files_(files), settings_(settings) {}

  int execute() {
    Next status = kGoOn;
    // The stages in order; the first that ends the run ends it.
    for (const auto stage : {&Run::chooseFiles, &Run::readInput, &Run::openOutput, &Run::parse,
                             &Run::indexWhileCopying, &Run::reportParse, &Run::planJoin,
                             &Run::indexTables, &Run::joinAndWrite}) {
      status = (this->*stage)();
      noticeInputChange();
      if (status) {
        break;
      }
    }
    // The tables joined are read again from the input, which may have changed since.
    hintIfInputChanged();
    const int ended = finishOutput(status.value_or(kResultWritten));
    if (line_.stats && ended != kOutputReaderLeft) {
      reportStats();
    }
    return ended;
  }

 private:
  Next chooseFiles() {
    enter(ProgressLine::Stage::kReading);
    console_.tell(message::kUsage);
    const std::vector<std::string>& names = line_.files;
    inputName_ = "input" + std::string(kDefaultSuffix);
    outputName_ = "output" + std::string(kDefaultSuffix);
    if (names.size() > 2) {
      console_.fail(message::kTooManyArguments);
      return kFilesFailed;
    }
    if (names.size() == 2) {
      inputName_ = names[0];
      outputName_ = names[1];
    } else if (names.size() == 1) {
      inputName_ = names[0];
      std::string rest = inputName_;
      if (!stripPrefix(rest, "input")) {
        console_.fail(message::kCantGuessOutput);
        console_.hint("name the output file as well: prg " + escapedForConsole(inputName_) +
                      " OUTPUTFILE");
        return kFilesFailed;
      }
      outputName_ = "output" + rest;
    }
    return kGoOn;
  }

  // The whole input is read before the output is opened, so that no failure of the
  // input can cost the output file its previous content.
  Next readInput() {
    console_.tell(std::string(message::kOpeningInput) + inputName_ + "\n");
    input_ = files_.readInput(inputName_, console_);
    if (input_ == nullptr) {
      // "prg" alone, in a folder without the default input.
      if (line_.files.empty()) {
        console_.hint("prg --help shows how to name the files");
      }
      return kFilesFailed;
    }
    lines_ = LineReader(input_->text());
    return kGoOn;
  }

  Next openOutput() {
    console_.tell(std::string(message::kOpeningOutput) + outputName_ + "\n");
    if (!files_.openOutput(*input_, outputName_, output_, console_)) {
      return kFilesFailed;
    }
    outputOpened_ = true;
    if (line_.result.followsCopy()) {
      output_.writeCopy(input_->text());
    }
    return kGoOn;
  }

  // The copy of the input goes to the output file while the text is parsed. What
  // parsing has to say waits until the copy is written, so that a failed copy is
  // reported first, as it happened first.
  Next parse() {
    enter(ProgressLine::Stage::kParsing);
    parsed_ = ::readHeader(lines_, joinList_, parsing_) ? readTables(parsing_, parsingHints_)
                                                        : Next(kHeaderFailed);
    if (!parsed_) {
      tableLookup_ = TableLookup(tables_);
    }
    return kGoOn;
  }

  // A copy of a large input takes longer to write than the input takes to parse:
  // meanwhile the indexes the join will need are built, without a word, so that
  // the console says what it would have said, in the same order.
  Next indexWhileCopying() {
    JoinPlan plan;
    if (!settings_.indexWhileCopying || parsed_ || !planQuietly(plan)) {
      return kGoOn;
    }
    enter(ProgressLine::Stage::kIndexing);
    keepRowsTheJoinReads(plan);
    stepIndexes().indexAll(plan);
    return kGoOn;
  }

  Next reportParse() {
    if (!output_.flush()) {
      return failedWrite();
    }
    hintIfInputChanged();
    console_.fail(parsing_.str());
    if (!parsed_) {
      console_.tell(message::kParsed);
    }
    if (parsed_ == kHeaderFailed) {
      hintAtHeader(input_->text(), console_.diagnostics());
    }
    console_.diagnostics() << parsingHints_.str();
    if (parsed_) {
      return parsed_;
    }
    warnOfRepeats(tables_, console_.diagnostics());
    return kGoOn;
  }

  Next readTables(std::ostream& messages, std::ostream& hints) {
    // A table joined once is read once as it is indexed, or as it is joined when it
    // is the first; its cells need not be held meanwhile. One joined again is kept.
    std::unordered_map<std::string_view, std::size_t> timesJoined;
    for (const std::string& name : joinList_) {
      ++timesJoined[name];
    }
    const TablesOutcome outcome =
        ::readTables(input_->text(), lines_.position(), tables_, messages,
                     ParseSpread{settings_.parallelism.threads, settings_.pieceBytes},
                     kMaxTableRows, [&timesJoined](std::string_view name) {
                       const auto found = timesJoined.find(name);
                       return found == timesJoined.end() || found->second == 1;
                     });
    switch (outcome.kind) {
      case TablesOutcome::kBadDescriptor:
        messages << message::kBadDescriptor << outcome.descriptor << '\n';
        hintAtRefusedLine(shownName(inputName_), input_->text(), outcome.refusedLine, nullptr,
                          hints);
        return kDescriptorFailed;
      case TablesOutcome::kBadData:
        messages << message::kBadTableData << outcome.table->name << '\n';
        hintAtRefusedLine(shownName(inputName_), input_->text(), outcome.refusedLine, outcome.table,
                          hints);
        return kTableDataFailed;
      case TablesOutcome::kRead:
        break;
    }
    return kGoOn;
  }

  Next planJoin() {
    if (joinList_.empty()) {
      console_.fail(message::kNoTables);
      hintAtEmptyHeader(console_.diagnostics());
      return kNoTablesToJoin;
    }
    console_.tell(message::kJoining);
    enter(ProgressLine::Stage::kIndexing);
    for (std::size_t i = 0; i < joinList_.size(); ++i) {
      const Table* table = tableLookup_.find(joinList_[i]);
      if (table == nullptr) {
        // A dot stands for each table joined before it.
        console_.tell(std::string(i == 0 ? 0 : i - 1, '.'));
        console_.fail(std::string(message::kTableMissingBefore) + joinList_[i] +
                      std::string(message::kTableMissingAfter));
        hintAtMissingTable(shownName(inputName_), joinList_[i], tables_, input_->text(),
                           console_.diagnostics());
        return kTableNotFound;
      }
      if (i == 0) {
        plan_ = startJoin(*table);
        // A header may name a table a million times: its steps get their memory once.
        plan_.tables.reserve(joinList_.size());
        plan_.steps.reserve(joinList_.size() - 1);
        stepWarnings_.add(*table);
        continue;
      }
      if (line_.noCross && stepWarnings_.refuseCrossStep(plan_, *table, console_.diagnostics())) {
        console_.tell(std::string(i - 1, '.'));
        return kFilesFailed;
      }
      stepWarnings_.warnOfStep(plan_, *table, warnings_);
      stepWarnings_.add(*table);
      addJoinStep(plan_, *table);
    }
    keepRowsTheJoinReads(plan_);
    return kGoOn;
  }

  // The plan planJoin makes, made without a word; false where planJoin stops the
  // run for a table not found.
  bool planQuietly(JoinPlan& plan) const {
    for (std::size_t i = 0; i < joinList_.size(); ++i) {
      const Table* table = tableLookup_.find(joinList_[i]);
      if (table == nullptr) {
        return false;
      }
      if (i == 0) {
        plan = startJoin(*table);
        plan.tables.reserve(joinList_.size());
        plan.steps.reserve(joinList_.size() - 1);
      } else {
        addJoinStep(plan, *table);
      }
    }
    return !joinList_.empty();
  }

  // Reads again, to hold them, the rows of the tables left in the text whose cells
  // the join reads; the first table's are read again part by part as it is joined.
  void keepRowsTheJoinReads(const JoinPlan& plan) {
    const std::vector<bool> read = levelsWhoseRowsAreRead(plan);
    for (std::size_t level = 1; level < plan.tables.size(); ++level) {
      if (read[level] && plan.tables[level]->rowsLeftInText) {
        keepRows(tables_[static_cast<std::size_t>(plan.tables[level] - tables_.data())]);
      }
    }
  }

  // Built once, by the first stage that needs them.
  StepIndexes& stepIndexes() {
    if (!indexes_) {
      indexes_.emplace(
          HashIndexBuilder(settings_.parallelism.threads, KeyHash(), line_.result.encoder()));
    }
    return *indexes_;
  }

  // The rows themselves are made while they are written, so no joined table, final
  // or intermediate, is ever held in memory.
  Next indexTables() {
    StepIndexes& indexes = stepIndexes();
    for (std::size_t step = 0; step < plan_.steps.size(); ++step) {
      indexes.index(plan_, step);
      console_.tell(".");
    }
    console_.tell(message::kJoined);
    // Said once the line of dots is complete, not in the middle of it.
    stepWarnings_.finish(warnings_);
    console_.diagnostics() << warnings_.str();
    plan_.name = "result";
    return kGoOn;
  }

  Next joinAndWrite() {
    JoinProgress progress;
    ProgressLine* line = console_.progress();
    if (line != nullptr) {
      line->watch(&output_, line_.result.followsCopy() ? input_->text().size() : 0, &progress);
    }
    enter(ProgressLine::Stage::kWriting);
    ResultWriter writer(plan_, line_.result, output_);
    writer.writeStart();
    output_.writer().beginParts();
    const JoinReport report = joinInParts(
        plan_, writer.wanted(), JoinSpread{settings_.parallelism.threads, settings_.partRows},
        [&writer](std::size_t part, const PartRows& rows) { return writer.takePart(part, rows); },
        &progress, settings_.joinWork);
    output_.writer().endParts();
    if (line != nullptr) {
      line->watch(nullptr, 0, nullptr);
    }
    // A join stops early when a write failed or its work budget ran out; either
    // way the result is not written whole.
    if (!output_.flush() || !report.complete) {
      return failedWrite();
    }
    resultRows_ = progress.rows.load();
    resultBytes_ =
        output_.bytesWritten() - (line_.result.followsCopy() ? input_->text().size() : 0);
    if (progress.rows.load() == 0) {
      warnOfEmptyResult(plan_, report.levelsWithRows, console_.diagnostics());
    }
    return kGoOn;
  }

  int failedWrite() {
    if (output_.readerLeft()) {
      return kOutputReaderLeft;
    }
    console_.fail(message::kCantWriteOutput);
    return kOutputWriteFailed;
  }

  // Gives the output its name as status implies; the status the run ends with.
  // Closing can fail too (a quota, a network file system), and so can giving the
  // file its name; the run is then not what it says it is.
  int finishOutput(int status) {
    if (!outputOpened_) {
      return status;
    }
    const bool whole = status == kResultWritten;
    // A run refused once the output was open (--no-cross) leaves the name as it was.
    const bool refused = status == kFilesFailed;
    const OutputFile::Keep keep = whole ? OutputFile::Keep::kEverything
                                  : !line_.result.followsCopy() || refused
                                      ? OutputFile::Keep::kNothing
                                      : OutputFile::Keep::kCopy;
    if (!output_.finish(keep)) {
      return status == kOutputWriteFailed || status == kOutputReaderLeft ? status : failedWrite();
    }
    if (whole) {
      console_.tell(message::kWritten);
    }
    return status;
  }

  // Asked after every stage, so that a change between two of them is known whatever
  // the file looks like by the time it is told.
  void noticeInputChange() {
    inputChanged_ = inputChanged_ || (input_ != nullptr && input_->changedSinceTaken());
  }

  void hintIfInputChanged() {
    noticeInputChange();
    if (!inputChangeTold_ && inputChanged_) {
      inputChangeTold_ = true;
      console_.hint("the input file changed during the run; the run uses the text as it read it");
    }
  }

  // A stage is entered once: the indexing begun while the copy is written goes on
  // when the join is planned.
  void enter(ProgressLine::Stage stage) {
    StageTimes::Clock::time_point& begun = stageTimes_.stages[static_cast<int>(stage)];
    if (begun != StageTimes::Clock::time_point{}) {
      return;
    }
    begun = StageTimes::Clock::now();
    if (ProgressLine* line = console_.progress()) {
      line->enter(stage);
    }
  }

  void reportStats() {
    using Seconds = std::chrono::duration<double>;
    const StageTimes::Clock::time_point ended = StageTimes::Clock::now();
    static constexpr const char* kNames[] = {"read", "parse", "index", "join and write"};
    std::ostringstream out;
    out << std::fixed << std::setprecision(3) << "prg: stats:";
    // A stage lasts until the next one begun, or the end; the last begun comes first.
    StageTimes::Clock::time_point next = ended;
    std::string stages;
    for (std::size_t stage = std::size(kNames); stage-- > 0;) {
      const StageTimes::Clock::time_point begun = stageTimes_.stages[stage];
      if (begun != StageTimes::Clock::time_point{}) {
        std::ostringstream time;
        time << std::fixed << std::setprecision(3) << (stage == 0 ? " " : ", ") << kNames[stage]
             << ' ' << Seconds(next - begun).count() << " s";
        stages.insert(0, time.str());
        next = begun;
      }
    }
    out << stages;
    out << "; " << Seconds(ended - stageTimes_.started).count() << " s in all\n";
    constexpr std::size_t kTablesShown = 10;
    if (!joinList_.empty() && !tables_.empty()) {
      out << "prg: stats: rows:";
      for (std::size_t i = 0; i < std::min(joinList_.size(), kTablesShown); ++i) {
        const Table* table = tableLookup_.find(joinList_[i]);
        out << (i == 0 ? " " : ", ") << escapedForConsole(joinList_[i]) << ' '
            << (table == nullptr ? "missing" : std::to_string(rowCount(*table)));
      }
      out << (joinList_.size() > kTablesShown ? ", ...\n" : "\n");
    }
    if (resultRows_) {
      out << "prg: stats: result " << *resultRows_ << (*resultRows_ == 1 ? " row, " : " rows, ")
          << resultBytes_ << " bytes\n";
    }
    console_.diagnostics() << out.str() << memoryStats();
  }

  const CommandLine& line_;
  Console& console_;
  RunFiles& files_;
  const RunSettings& settings_;
  std::string inputName_;
  std::string outputName_;
  std::unique_ptr<InputSource> input_;
  LineReader lines_{std::string_view()};
  OutputFile output_;
  bool outputOpened_ = false;
  bool inputChanged_ = false;
  bool inputChangeTold_ = false;
  std::vector<std::string> joinList_;
  std::vector<Table> tables_;
  TableLookup tableLookup_;
  Next parsed_;  // what parsing found, said once the copy is written
  std::ostringstream parsing_;
  std::ostringstream parsingHints_;
  JoinPlan plan_;
  std::optional<StepIndexes> indexes_;  // what plan_'s steps point to
  StepWarnings stepWarnings_;
  std::optional<std::size_t> resultRows_;  // once the result is written whole
  std::size_t resultBytes_ = 0;
  std::ostringstream warnings_;
  StageTimes stageTimes_;
};

// Standard output carries the output file, under any name of it: the messages go
// to standard error. Standard error that is a file carrying the output gets no
// warnings or hints in its middle.
void routeAroundTheOutput(const CommandLine& line, Console& console) {
  const int output = line.files.size() == 2 ? descriptorNamed(line.files[1]) : -1;
  if (output == STDOUT_FILENO) {
    console.sendMessagesToStandardError();
  } else if (output == STDERR_FILENO && identityOf(STDERR_FILENO).regular) {
    console.dropDiagnostics();
  }
}

}  // namespace

std::string memoryStats() {
  struct rusage usage {};
  getrusage(RUSAGE_SELF, &usage);
  return "prg: stats: peak memory " + std::to_string(usage.ru_maxrss / 1024) + " MiB, " +
         std::to_string(usage.ru_minflt) + " page faults\n";
}

std::string shownName(const std::string& name, bool output) {
  if (name == "-") {
    return output ? "(standard output)" : "(standard input)";
  }
  return escapedForConsole(name);
}

int runCommandLine(int argc, const char* const* argv, Console& console, RunFiles& files,
                   const RunSettings& settings, void (*endProcess)(int status)) {
  const std::optional<CommandLine> line = parseCommandLine(argc, argv, console.diagnostics());
  if (!line) {
    return kFilesFailed;
  }
  if (line->help) {
    console.fail(helpText());
    return kResultWritten;
  }
  if (line->version) {
    console.fail(versionText());
    return kResultWritten;
  }
  if (line->quiet) {
    console.setQuiet();
  }
  if (line->csvFolder) {
    return exportTables(*line, console);
  }
  routeAroundTheOutput(*line, console);
  Run run(*line, console, files, settings);
  const int status = run.execute();
  // The output has its name: the process may end here rather than after freeing
  // every table, which would take a while for nothing.
  if (endProcess != nullptr) {
    console.finish();
    endProcess(status);
  }
  return status;
}
