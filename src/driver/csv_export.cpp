// prg --csv FOLDER [inputfile]: every table of the file as a CSV file of its own,
// for tools that read CSV. The file is read a line at a time and each row written
// as it is read, so memory does not grow with the file; it is checked as a run
// checks it. The files are one unit: each is written beside its name, and all take
// their names only once all are written, so a failure or an interruption leaves the
// folder as it was.

#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "driver/application.h"
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

struct FileCloser {
  // Standard input stays open: descriptor 0 must not go to the next file opened.
  void operator()(std::FILE* file) const {
    if (file != stdin) {
      std::fclose(file);
    }
  }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

constexpr std::size_t kLongestFileName = 255;

class CsvExport {
 public:
  // said carries the lines of an export that goes well, which --quiet drops.
  CsvExport(std::filesystem::path folder, FileIdentity input, std::ostream& console,
            std::ostream& said, std::ostream& diagnostics)
      : folder_(std::move(folder)),
        input_(input),
        console_(console),
        said_(said),
        diagnostics_(diagnostics) {}

  int run(FileLines& lines) {
    std::string_view line;
    std::vector<std::string> joinList;
    const bool hasLine = lines.next(line);
    LineReader header(hasLine ? line : std::string_view());
    if (!readHeader(header, joinList, console_)) {
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
        const int opened = openTable(trimmed);
        if (opened != kTablesRead) {
          return fail(opened);
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
      console_ << "Can't read input file!\n" << std::flush;
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
    said_ << "Parsing the input file complete.\n" << std::flush;
    if (said_.rdbuf() == nullptr) {
      return kResultWritten;
    }
    diagnostics_ << "prg: wrote " << tablesWritten << (tablesWritten == 1 ? " table" : " tables")
                 << " to " << escapedForConsole(folder_.string()) << '\n'
                 << std::flush;
    return kResultWritten;
  }

 private:
  // Opens path for one of the export's files, unless it is the input: the
  // export's status so far.
  int openFile(const std::string& path) {
    if (sameFile(input_, identityOf(path.c_str()))) {
      console_ << "Input and output file are the same!\n" << std::flush;
      return kFilesFailed;
    }
    PlacedFile file;
    if (!file.open(path, PlacedFile::Batch::kOfMany)) {
      return kOutputWriteFailed;
    }
    files_.push_back(std::move(file));
    out_ = &files_.back();
    return kTablesRead;
  }

  // FOLDER/join.sql, the header's join over the files, when each table it names
  // was written; the status of the export.
  int writeJoinSql(const std::vector<std::string>& joinList) {
    std::vector<ExportedTable> joined;
    for (const std::string& name : joinList) {
      const auto table = exported_.find(name);
      if (table == exported_.end()) {
        diagnostics_ << "prg: warning: join.sql is not written: the table "
                     << escapedForConsole(name) << " has no file\n";
        return kResultWritten;
      }
      joined.push_back(table->second);
    }
    if (joined.empty()) {
      return kResultWritten;
    }
    if (const int opened = openFile((folder_ / "join.sql").string()); opened != kTablesRead) {
      return opened;
    }
    buffer_ = joinSql(joined);
    return closeTable() ? kResultWritten : kOutputWriteFailed;
  }

  // kTablesRead when the table's rows can follow.
  int openTable(std::string_view descriptor) {
    if (!closeTable()) {
      return kOutputWriteFailed;
    }
    tables_.clear();
    if (!parseTableDescriptor(std::string(descriptor), tables_)) {
      console_ << "Error parsing tableDescriptor: " << descriptor << '\n' << std::flush;
      return kDescriptorFailed;
    }
    table_ = &tables_.back();
    // A table named again is checked, not written: a join finds the first.
    if (!seen_.insert(table_->name).second) {
      return kTablesRead;
    }
    const std::string fileName = csvFileName(table_->name);
    if (fileName.size() > kLongestFileName) {
      diagnostics_ << "prg: warning: the table named \"" << escapedForConsole(table_->name)
                   << "\" is too long a name for a file; it is not written\n";
      return kTablesRead;
    }
    if (const int opened = openFile((folder_ / fileName).string()); opened != kTablesRead) {
      return opened;
    }
    std::vector<std::string> keys;
    for (const std::string& column : table_->columns) {
      keys.push_back(descriptorKey(column));
    }
    exported_[table_->name] = ExportedTable{fileName, keys};
    exporting_ = &exported_[table_->name];
    const std::vector<std::string_view> fields(keys.begin(), keys.end());
    buffer_.clear();
    RowFormat(RowFormat::Kind::kCsv).appendRow(buffer_, fields);
    return kTablesRead;
  }

  bool writeRow(std::string_view line) {
    readFields(line, fields_);
    if (fields_.size() != table_->columns.size()) {
      // Read again as a run reads it, for the same diagnostics.
      LineReader refused(line);
      readTableData(refused, *table_, console_, 0);
      console_ << "Error reading table data from table: " << table_->name << '\n' << std::flush;
      return false;
    }
    if (out_ == nullptr) {
      return true;
    }
    warnIfNotUtf8();
    const std::size_t before = buffer_.size();
    RowFormat(RowFormat::Kind::kCsv).appendRow(buffer_, fields_);
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
        diagnostics_ << "prg: warning: line " << lineNumber_ << " of the table "
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

  int fail(int status) {
    if (status == kOutputWriteFailed) {
      console_ << "Can't write output file!\n" << std::flush;
    }
    out_ = nullptr;
    files_.clear();  // the files beside their names go; the names keep what they held
    return status;
  }

  static constexpr std::size_t kFlushBytes = std::size_t{1} << 20;

  std::filesystem::path folder_;
  FileIdentity input_;
  std::ostream& console_;
  std::ostream& said_;
  std::ostream& diagnostics_;
  std::vector<Table> tables_;  // the one open table, its descriptor only
  Table* table_ = nullptr;
  std::set<std::string> seen_;
  std::map<std::string, ExportedTable> exported_;
  ExportedTable* exporting_ = nullptr;  // of the open table, when it is written
  std::size_t lineNumber_ = 0;          // of the line read last, in the file
  bool notUtf8Told_ = false;
  std::vector<PlacedFile> files_;
  PlacedFile* out_ = nullptr;  // the open table's file, when it is written
  std::string buffer_;
  std::vector<std::string_view> fields_;
  bool failedWrite_ = false;
};

}  // namespace

int Application::exportCsv(const std::string& folder, const std::string& inputName) {
  said << "Usage: prg [inputfile] [outputfile]\n"
       << "Opening input file: " << inputName << '\n'
       << std::flush;
  const File input(openInputFile(inputName, console, diagnostics));
  if (input == nullptr) {
    return kFilesFailed;
  }
  // Made for the files, and removed again unless they are placed: a failure or an
  // interruption leaves the folder as it was.
  MadeFolders made;
  made.make(folder);
  FileLines fileLines(input.get());
  CsvExport exporter(folder, identityOf(fileno(input.get())), console, said, diagnostics);
  const int status = exporter.run(fileLines);
  if (status == kResultWritten) {
    made.keep();
  }
  return status;
}
