#include "driver/export.h"

// The file is read a line at a time and each row written
// as it is read, so memory does not grow with the file; it is checked as a run
// checks it. The files are one unit: each is written beside its name, and all take
// their names only once all are written, so a failure or an interruption leaves the
// folder as it was.

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iomanip>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "driver/messages.h"
#include "driver/run.h"
#include "join/join_plan.h"
#include "output/csv.h"
#include "output/join_sql.h"
#include "output/placed_file.h"
#include "output/row_format.h"
#include "tables/file_lines.h"
#include "tables/input_text.h"
#include "tables/table_parsing.h"
#include "text/split.h"
#include "text/string_helpers.h"

namespace {

using Clock = std::chrono::steady_clock;
using Seconds = std::chrono::duration<double>;

constexpr std::size_t kLongestFileName = 255;

class CsvExport {
 public:
  CsvExport(std::filesystem::path folder, FileIdentity input, Console& console)
      : folder_(std::move(folder)), input_(input), console_(console) {}

  int run(FileLines& lines) {
    std::string_view line;
    std::vector<std::string> joinList;
    const bool hasLine = lines.next(line);
    LineReader header(hasLine ? line : std::string_view());
    if (!readHeader(header, joinList, console_.failures())) {
      return fail(kHeaderFailed);
    }
    LineKinds kinds;
    lineNumber_ = 1;
    while (lines.next(line)) {
      ++lineNumber_;
      const std::string_view trimmed = trimmedView(line);
      const LineKinds::Kind kind = kinds.next(trimmed);
      if (kind == LineKinds::kBlank) {
        continue;
      }
      if (kind == LineKinds::kDescriptor) {
        if (const Next opened = openTable(trimmed)) {
          return fail(*opened);
        }
        continue;
      }
      if (!writeRow(trimmed)) {
        return fail(kTableDataFailed);
      }
      if (!healthy()) {
        return fail(kOutputWriteFailed);
      }
    }
    if (lines.failed()) {
      console_.fail(message::kCantReadInput);
      return fail(kFilesFailed);
    }
    const std::size_t tablesWritten = files_.size();
    if (!closeTable()) {
      return fail(kOutputWriteFailed);
    }
    if (const int written = writeJoinSql(joinList); written != kResultWritten) {
      return fail(written);
    }
    if (!placeTogether(files_.data(), files_.size())) {
      return fail(kOutputWriteFailed);
    }
    console_.tell(message::kParsed);
    if (console_.quiet()) {
      return kResultWritten;
    }
    console_.diagnostics() << "prg: wrote " << tablesWritten
                           << (tablesWritten == 1 ? " table" : " tables") << " to "
                           << escapedForConsole(folder_.string()) << '\n';
    return kResultWritten;
  }

 private:
  // Opens path for one of the export's files, unless it is the input: the
  // export's status, or kGoOn.
  Next openFile(const std::string& path) {
    if (sameFile(input_, identityOf(path.c_str()))) {
      console_.fail(message::kSameFiles);
      return kFilesFailed;
    }
    PlacedFile file;
    if (!file.open(path, PlacedFile::Batch::kOfMany)) {
      return kOutputWriteFailed;
    }
    files_.push_back(std::move(file));
    out_ = &files_.back();
    return kGoOn;
  }

  // FOLDER/join.sql, the header's join over the files, when each table it names
  // was written; the status of the export.
  int writeJoinSql(const std::vector<std::string>& joinList) {
    std::vector<ExportedTable> joined;
    for (const std::string& name : joinList) {
      const auto table = exported_.find(name);
      if (table == exported_.end()) {
        console_.diagnostics() << "prg: warning: join.sql is not written: the table "
                               << escapedForConsole(name) << " has no file\n";
        return kResultWritten;
      }
      joined.push_back(table->second);
    }
    if (joined.empty()) {
      return kResultWritten;
    }
    if (const Next opened = openFile((folder_ / "join.sql").string())) {
      return *opened;
    }
    buffer_ = joinSql(joined);
    return closeTable() ? kResultWritten : kOutputWriteFailed;
  }

  // kGoOn when the table's rows can follow.
  Next openTable(std::string_view descriptor) {
    if (!closeTable()) {
      return kOutputWriteFailed;
    }
    tables_.clear();
    if (!parseTableDescriptor(std::string(descriptor), tables_)) {
      console_.failures() << message::kBadDescriptor << descriptor << '\n';
      return kDescriptorFailed;
    }
    table_ = &tables_.back();
    // A table named again is checked, not written: a join finds the first.
    if (!seen_.insert(table_->name).second) {
      return kGoOn;
    }
    const std::string fileName = csvFileName(table_->name);
    if (fileName.size() > kLongestFileName) {
      console_.diagnostics() << "prg: warning: the table named \""
                             << escapedForConsole(table_->name)
                             << "\" is too long a name for a file; it is not written\n";
      return kGoOn;
    }
    if (const Next opened = openFile((folder_ / fileName).string())) {
      return opened;
    }
    std::vector<std::string> keys;
    for (const std::string& column : table_->columns) {
      keys.push_back(descriptorKey(column));
    }
    exported_[table_->name] = ExportedTable{fileName, keys};
    exporting_ = &exported_[table_->name];
    rowsWritten_.emplace_back(table_->name, 0);
    const std::vector<std::string_view> fields(keys.begin(), keys.end());
    buffer_.clear();
    RowFormat(RowFormat::Kind::kCsv).appendRow(buffer_, fields);
    return kGoOn;
  }

  bool writeRow(std::string_view line) {
    readFields(line, fields_);
    if (fields_.size() != table_->columns.size()) {
      // Read again as a run reads it, for the same diagnostics.
      LineReader refused(line);
      readTableData(refused, *table_, console_.failures(), 0);
      console_.failures() << message::kBadTableData << table_->name << '\n';
      return false;
    }
    if (out_ == nullptr) {
      return true;
    }
    warnIfNotUtf8();
    const std::size_t before = buffer_.size();
    RowFormat(RowFormat::Kind::kCsv).appendRow(buffer_, fields_);
    ++rowsWritten_.back().second;
    exporting_->longestLine = std::max(exporting_->longestLine, buffer_.size() - before);
    if (buffer_.size() >= kFlushBytes) {
      flushBuffer();
    }
    return true;
  }

  // DuckDB, which join.sql is for, refuses a CSV file that is not UTF-8.
  void warnIfNotUtf8() {
    if (notUtf8Told_) {
      return;
    }
    for (const std::string_view field : fields_) {
      if (!isUtf8(field)) {
        notUtf8Told_ = true;
        console_.diagnostics()
            << "prg: warning: line " << lineNumber_ << " of the table "
            << escapedForConsole(table_->name)
            << " holds bytes that are not UTF-8, which DuckDB refuses in a CSV file\n";
        return;
      }
    }
  }

  void flushBuffer() {
    if (out_ != nullptr && !failedWrite_ && out_->write(buffer_) != buffer_.size()) {
      failedWrite_ = true;
    }
    buffer_.clear();
  }

  // Each file is closed once written, so that a folder of many tables needs one
  // descriptor at a time; the files take their names together at the end.
  bool closeTable() {
    flushBuffer();
    if (out_ != nullptr && !out_->complete()) {
      failedWrite_ = true;
    }
    out_ = nullptr;
    return healthy();
  }

  bool healthy() const { return !failedWrite_; }

 public:
  // What --stats says of an export that took seconds: its tables and their rows.
  std::string stats(double seconds) const {
    constexpr std::size_t kTablesShown = 10;
    std::ostringstream out;
    out << std::fixed << std::setprecision(3) << "prg: stats: export " << seconds << " s, "
        << rowsWritten_.size() << (rowsWritten_.size() == 1 ? " table" : " tables") << '\n';
    for (std::size_t i = 0; i < std::min(rowsWritten_.size(), kTablesShown); ++i) {
      out << (i == 0 ? "prg: stats: rows: " : ", ") << escapedForConsole(rowsWritten_[i].first)
          << ' ' << rowsWritten_[i].second;
    }
    out << (rowsWritten_.size() > kTablesShown ? ", ...\n" : rowsWritten_.empty() ? "" : "\n");
    return out.str();
  }

 private:
  int fail(int status) {
    if (status == kOutputWriteFailed) {
      console_.fail(message::kCantWriteOutput);
    }
    out_ = nullptr;
    files_.clear();  // the files beside their names go; the names keep what they held
    return status;
  }

  static constexpr std::size_t kFlushBytes = std::size_t{1} << 20;

  std::filesystem::path folder_;
  FileIdentity input_;
  Console& console_;
  std::vector<Table> tables_;  // the one open table, its descriptor only
  Table* table_ = nullptr;
  std::set<std::string> seen_;
  std::map<std::string, ExportedTable> exported_;
  ExportedTable* exporting_ = nullptr;  // of the open table, when it is written
  std::size_t lineNumber_ = 0;          // of the line read last, in the file
  bool notUtf8Told_ = false;
  std::vector<std::pair<std::string, std::size_t>> rowsWritten_;  // by table written, in order
  std::vector<PlacedFile> files_;
  PlacedFile* out_ = nullptr;  // the open table's file, when it is written
  std::string buffer_;
  std::vector<std::string_view> fields_;
  bool failedWrite_ = false;
};

}  // namespace

int exportTables(const CommandLine& line, Console& console) {
  const Clock::time_point started = Clock::now();
  console.tell(message::kUsage);
  if (line.files.size() > 1) {
    console.fail(message::kTooManyArguments);
    return kFilesFailed;
  }
  const std::string inputName = line.files.empty() ? "input1k.txt" : line.files[0];
  console.tell(std::string(message::kOpeningInput) + inputName + "\n");
  const InputFile input = openInputFile(inputName, console);
  if (input == nullptr) {
    return kFilesFailed;
  }
  // Made for the files, and removed again unless they are placed: a failure or an
  // interruption leaves the folder as it was.
  MadeFolders made;
  made.make(*line.csvFolder);
  FileLines fileLines(input.get());
  CsvExport exporter(*line.csvFolder, identityOf(fileno(input.get())), console);
  const int status = exporter.run(fileLines);
  if (status == kResultWritten) {
    made.keep();
  }
  if (line.stats) {
    console.diagnostics() << exporter.stats(Seconds(Clock::now() - started).count())
                          << memoryStats();
  }
  return status;
}
