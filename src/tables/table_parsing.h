// The input notation: the join header on line 1, then tables, each a descriptor line
// "name(col, col)" followed by its data lines up to a blank line.
#pragma once

#include <cstddef>
#include <functional>
#include <ostream>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "tables/input_text.h"
#include "tables/table.h"
#include "threads/threads.h"

// Reads the first line as "join(A, B, ...)" (spaces anywhere ignored) into joinList.
// On failure writes "Incorrect header" (no line end) and leaves joinList empty.
bool readHeader(LineReader& lines, std::vector<std::string>& joinList, std::ostream& console);

// What a line of the notation is. Whether a line opens a table depends only on
// the line before it: a non-blank line after a blank one (or after the header) is a
// descriptor, any other non-blank line a row of the table open above it. Both
// readers of the notation, a run's and the export's, tell lines apart with this.
class LineKinds {
 public:
  enum Kind { kBlank, kDescriptor, kRow };
  // afterBlank: whether the line before the first one given is blank or the header.
  explicit LineKinds(bool afterBlank = true) : afterBlank_(afterBlank) {}
  // The kind of the next line, trimmed.
  Kind next(std::string_view trimmed) {
    if (trimmed.empty()) {
      afterBlank_ = true;
      return kBlank;
    }
    const bool descriptor = afterBlank_;
    afterBlank_ = false;
    return descriptor ? kDescriptor : kRow;
  }

 private:
  bool afterBlank_;
};

// Cuts a data line into its fields, each trimmed.
void readFields(std::string_view line, std::vector<std::string_view>& fields);
// The fields cut from a line that was checked to hold width of them, made width
// fields: a line of another width (the text changed since) gives fields cut or
// filled with empty cells to width, and false.
bool fitToWidth(std::string_view line, std::size_t width, std::vector<std::string_view>& fields);

// Parses lines that were read once already, every one a row, into rows (emptied
// first; its memory is kept for the next lines), at most most of them. False, and
// the input noted as changed (see noteInputChangedUnderRun), when the lines are not
// what the check found: a line of another width, or more lines than most.
bool readRowsAgain(std::string_view lines, RowList& rows, std::size_t most = kMaxTableRows);

// A table's row lines cut at line ends into stretches of about a given size, so
// that threads can take them in turn; each stretch's borders are found on its own.
class LineStretches {
 public:
  LineStretches() = default;
  LineStretches(std::string_view lines, std::size_t bytes)
      : lines_(lines), bytes_(bytes == 0 ? 1 : bytes) {}

  std::size_t count() const { return (lines_.size() + bytes_ - 1) / bytes_; }
  // A line longer than a stretch leaves the others it covers empty.
  std::string_view stretch(std::size_t number) const {
    const std::size_t begin = start(number);
    return lines_.substr(begin, start(number + 1) - begin);
  }

 private:
  std::size_t start(std::size_t number) const;

  std::string_view lines_;
  std::size_t bytes_ = 1;
};

// Appends one table made from a trimmed descriptor line such as "T(id int, name)".
// The table is appended even when the line is refused; nothing is written.
bool parseTableDescriptor(std::string line, std::vector<Table>& tables);

// Reads the data lines that follow a descriptor into table, up to and including a
// blank line, or to the end. A line with the wrong number of fields is reported with
// its fields, the counts and the line, and ends the reading with false; so does a
// row beyond maxRows.
bool readTableData(LineReader& lines, Table& table, std::ostream& console,
                   std::size_t maxRows = kMaxTableRows);

// The tables by name, built once, so that a header naming many tables among many
// more finds each at once: the first table of a name, or null.
class TableLookup {
 public:
  TableLookup() = default;
  explicit TableLookup(const std::vector<Table>& tables);
  const Table* find(const std::string& name) const;

 private:
  std::unordered_map<std::string_view, const Table*> firstByName_;
};

// How reading the tables ended.
struct TablesOutcome {
  enum Kind { kRead, kBadDescriptor, kBadData };
  Kind kind = kRead;
  std::string_view descriptor;   // the refused descriptor line, trimmed
  const Table* table = nullptr;  // the table whose data line was refused
  std::size_t refusedLine = 0;   // where the refused line starts in the text
};

// Reads every table of text from start (the line after the header) to the end into
// tables: each non-blank line after a blank one (or after the header) is a
// descriptor, the lines after it up to a blank line are its rows. Large texts are
// cut at line ends into pieces that are parsed on several threads and then put
// together; the outcome, and the diagnostic lines of a refused data line, which
// are written to console, are those of one pass from the start: the first failure
// in the file ends the reading. The tables whose names leftInText accepts are
// checked but their rows are left in the text (see Table).
using TableNameTest = std::function<bool(std::string_view name)>;
// The threads the parse spreads over, and the bytes of text in a piece (0: chosen
// from the size of the text).
struct ParseSpread {
  unsigned threads = 1;
  std::size_t pieceBytes = 0;
};
TablesOutcome readTables(std::string_view text, std::size_t start, std::vector<Table>& tables,
                         std::ostream& console, ParseSpread spread,
                         std::size_t maxRows = kMaxTableRows, const TableNameTest& leftInText = {});

// Reads the rows of a table left in the text again, to hold them.
void keepRows(Table& table);
