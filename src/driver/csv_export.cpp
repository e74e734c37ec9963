// prg --csv FOLDER [inputfile]: every table of the file as a CSV file of its own,
// for tools that read CSV. The file is read a line at a time and each row written
// as it is read, so memory does not grow with the file; it is checked as a run
// checks it, and a file that fails leaves no CSV file behind.

#include <cstdio>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "driver/application.h"
#include "join/join_plan.h"
#include "output/csv.h"
#include "tables/file_lines.h"
#include "text/split.h"
#include "text/string_helpers.h"

namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// A name that can't be a file's name in the folder, or would leave it.
bool unfitForFileName(std::string_view name) {
  return name.empty() || name == "." || name == ".." ||
         name.find_first_of(std::string_view("/\0", 2)) != std::string_view::npos;
}

class CsvExport {
 public:
  CsvExport(std::filesystem::path folder, std::ostream& console, std::ostream& diagnostics)
      : folder_(std::move(folder)), console_(console), diagnostics_(diagnostics) {}

  int run(FileLines& lines) {
    std::string_view line;
    std::vector<std::string> joinList;
    const bool hasLine = lines.next(line);
    LineReader header(hasLine ? line : std::string_view());
    if (!readHeader(header, joinList, console_)) {
      return fail(kHeaderFailed);
    }
    bool afterBlank = true;
    while (lines.next(line)) {
      const std::string_view trimmed = trimmedView(line);
      if (trimmed.empty()) {
        afterBlank = true;
        continue;
      }
      if (afterBlank) {
        afterBlank = false;
        if (!openTable(trimmed)) {
          return fail(kDescriptorFailed);
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
    if (!closeTable()) {
      return fail(kOutputWriteFailed);
    }
    console_ << "Parsing the input file complete.\n" << std::flush;
    diagnostics_ << "prg: wrote " << written_.size()
                 << (written_.size() == 1 ? " table" : " tables") << " to " << folder_.string()
                 << '\n'
                 << std::flush;
    return kResultWritten;
  }

 private:
  bool openTable(std::string_view descriptor) {
    if (!closeTable()) {
      return false;
    }
    tables_.clear();
    if (!parseTableDescriptor(std::string(descriptor), tables_)) {
      console_ << "Error parsing tableDescriptor: " << descriptor << '\n' << std::flush;
      return false;
    }
    table_ = &tables_.back();
    // A table named again is checked, not written: a join finds the first.
    if (!seen_.insert(table_->name).second) {
      return true;
    }
    if (unfitForFileName(table_->name)) {
      diagnostics_ << "prg: warning: the table named \"" << table_->name
                   << "\" can't be a file name; it is not written\n";
      return true;
    }
    const std::filesystem::path path = folder_ / (table_->name + ".csv");
    out_.reset(std::fopen(path.c_str(), "wb"));
    if (out_ == nullptr) {
      failedWrite_ = true;
      return true;
    }
    written_.push_back(path);
    std::vector<std::string> keys;
    for (const std::string& column : table_->columns) {
      keys.push_back(descriptorKey(column));
    }
    const std::vector<std::string_view> fields(keys.begin(), keys.end());
    buffer_.clear();
    appendCsvRecord(buffer_, fields);
    return true;
  }

  bool writeRow(std::string_view line) {
    splitInto(line, ',', fields_);
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
    for (std::string_view& field : fields_) {
      field = trimmedView(field);
    }
    appendCsvRecord(buffer_, fields_);
    if (buffer_.size() >= kFlushBytes) {
      flushBuffer();
    }
    return true;
  }

  void flushBuffer() {
    if (out_ != nullptr && !buffer_.empty() &&
        std::fwrite(buffer_.data(), 1, buffer_.size(), out_.get()) != buffer_.size()) {
      failedWrite_ = true;
    }
    buffer_.clear();
  }

  bool closeTable() {
    flushBuffer();
    if (out_ != nullptr && std::fclose(out_.release()) != 0) {
      failedWrite_ = true;
    }
    return healthy();
  }

  bool healthy() const { return !failedWrite_; }

  int fail(int status) {
    if (status == kOutputWriteFailed) {
      console_ << "Can't write output file!\n" << std::flush;
    }
    out_.reset();
    for (const std::filesystem::path& path : written_) {
      std::error_code ignored;
      std::filesystem::remove(path, ignored);
    }
    return status;
  }

  static constexpr std::size_t kFlushBytes = std::size_t{1} << 20;

  std::filesystem::path folder_;
  std::ostream& console_;
  std::ostream& diagnostics_;
  std::vector<Table> tables_;  // the one open table, its descriptor only
  Table* table_ = nullptr;
  std::set<std::string> seen_;
  File out_;
  std::string buffer_;
  std::vector<std::string_view> fields_;
  std::vector<std::filesystem::path> written_;
  bool failedWrite_ = false;
};

}  // namespace

int Application::exportCsv(const std::string& folder, const std::string& inputName) {
  console << "Usage: prg [inputfile] [outputfile]\n"
          << "Opening input file: " << inputName << '\n'
          << std::flush;
  const File input(openInputFile(inputName, console, diagnostics));
  if (input == nullptr) {
    return kFilesFailed;
  }
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  FileLines fileLines(input.get());
  CsvExport exporter(folder, console, diagnostics);
  return exporter.run(fileLines);
}
