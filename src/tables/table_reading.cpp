// The tables of a whole text, parsed in pieces on several threads.
//
// Whether a line opens a table depends only on the line before it: a non-blank
// line after a blank one (or after the header) is a descriptor, any other non-blank
// line a row of the table open above it. So a piece that starts at any line end can
// be parsed on its own. Rows at its start that continue a table of an earlier piece
// are kept aside, with the field count they share, and checked against that table's
// columns when the pieces are put together in order.

#include "tables/table_parsing.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <limits>

#include "text/split.h"
#include "text/string_helpers.h"

namespace {

constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();
// Below this size a text is parsed in one piece, on the calling thread.
constexpr std::size_t kSmallestPiece = std::size_t{1} << 20;

// Whether the line that ends right before position is blank; position is a line
// start after the first line.
bool blankLineBefore(std::string_view text, std::size_t position) {
  const std::size_t lineEnd = position - 1;  // the '\n' of that line
  const std::size_t previousEnd =
      lineEnd == 0 ? std::string_view::npos : text.rfind('\n', lineEnd - 1);
  const std::size_t lineStart = previousEnd == std::string_view::npos ? 0 : previousEnd + 1;
  LineReader lines(text.substr(0, position), lineStart);
  std::string_view line;
  lines.next(line);
  return trimmedView(line).empty();
}

struct Failure {
  enum Kind { kNoFailure, kDescriptor, kFieldCount, kTooManyRows };
  Kind kind = kNoFailure;
  std::size_t line = 0;       // where the refused line starts
  std::size_t table = kNone;  // in the piece's tables; kNone: the continued table
};

struct Piece {
  std::size_t begin = 0;
  std::size_t end = 0;
  std::vector<Table> tables;  // opened in this piece
  RowList continued;          // rows at the start that continue an earlier table
  std::size_t continuedWidth = kNone;
  std::size_t continuedLine = 0;
  Failure failure;
};

class PieceParser {
 public:
  PieceParser(std::string_view text, std::size_t start, std::size_t maxRows,
              std::atomic<std::size_t>& firstFailed)
      : text_(text), start_(start), maxRows_(maxRows), firstFailed_(firstFailed) {}

  void parse(Piece& piece, std::size_t number) {
    LineReader lines(text_.substr(0, piece.end), piece.begin);
    bool afterBlank = piece.begin == start_ || blankLineBefore(text_, piece.begin);
    Table* table = nullptr;
    std::string_view line;
    for (std::size_t position = lines.position(); lines.next(line); position = lines.position()) {
      if ((++linesSinceCheck_ & 4095) == 0 &&
          firstFailed_.load(std::memory_order_relaxed) < number) {
        return;  // an earlier piece ends the reading before this one matters
      }
      const std::string_view trimmed = trimmedView(line);
      if (trimmed.empty()) {
        afterBlank = true;
        table = nullptr;
        continue;
      }
      if (afterBlank) {
        afterBlank = false;
        if (!parseTableDescriptor(std::string(trimmed), piece.tables)) {
          fail(piece, number, Failure{Failure::kDescriptor, position, kNone});
          return;
        }
        table = &piece.tables.back();
        table->rows = RowList(table->columns.size(), text_.data());
        continue;
      }
      splitInto(trimmed, ',', fields_);
      if (table == nullptr && piece.continuedWidth == kNone) {
        piece.continuedWidth = fields_.size();
        piece.continuedLine = position;
        piece.continued = RowList(fields_.size(), text_.data());
      }
      RowList& rows = table != nullptr ? table->rows : piece.continued;
      const std::size_t width = table != nullptr ? table->columns.size() : piece.continuedWidth;
      const std::size_t tableNumber = table != nullptr ? piece.tables.size() - 1 : kNone;
      if (fields_.size() != width) {
        fail(piece, number, Failure{Failure::kFieldCount, position, tableNumber});
        return;
      }
      if (table != nullptr && rows.size() == maxRows_) {
        fail(piece, number, Failure{Failure::kTooManyRows, position, tableNumber});
        return;
      }
      for (std::string_view& field : fields_) {
        field = trimmedView(field);
      }
      rows.push_back(fields_);
    }
  }

 private:
  void fail(Piece& piece, std::size_t number, Failure failure) {
    piece.failure = failure;
    std::size_t known = firstFailed_.load();
    while (number < known && !firstFailed_.compare_exchange_weak(known, number)) {
    }
  }

  std::string_view text_;
  std::size_t start_;
  std::size_t maxRows_;
  std::atomic<std::size_t>& firstFailed_;
  std::vector<std::string_view> fields_;
  std::size_t linesSinceCheck_ = 0;
};

std::vector<Piece> cutIntoPieces(std::string_view text, std::size_t start,
                                 Parallelism parallelism) {
  const std::size_t size = text.size() - start;
  std::size_t pieceBytes = parallelism.pieceBytes;
  if (pieceBytes == 0) {
    pieceBytes = parallelism.threads <= 1 || size < 2 * kSmallestPiece
                     ? size
                     : std::max(kSmallestPiece, size / (4 * parallelism.threads));
  }
  std::vector<Piece> pieces;
  std::size_t begin = start;
  while (begin < text.size() || pieces.empty()) {
    std::size_t end = text.size();
    if (text.size() - begin > pieceBytes) {
      const std::size_t lineEnd = text.find('\n', begin + pieceBytes - 1);
      end = lineEnd == std::string_view::npos ? text.size() : lineEnd + 1;
    }
    pieces.push_back(Piece{});
    pieces.back().begin = begin;
    pieces.back().end = end;
    begin = end;
  }
  return pieces;
}

// The rows each table will hold once the pieces are put together, so that each
// gets its memory once, at its final size.
void reserveFinalSizes(std::vector<Piece>& pieces) {
  Table* open = nullptr;
  std::size_t rows = 0;
  for (Piece& piece : pieces) {
    rows += piece.continued.size();
    for (Table& table : piece.tables) {
      if (open != nullptr) {
        open->rows.reserve(rows);
      }
      open = &table;
      rows = table.rows.size();
    }
  }
  if (open != nullptr) {
    open->rows.reserve(rows);
  }
}

class Assembler {
 public:
  Assembler(std::string_view text, std::vector<Table>& tables, std::ostream& console,
            std::size_t maxRows)
      : text_(text), tables_(tables), console_(console), maxRows_(maxRows) {}

  // Copies the rows that add left to be copied, on threads; their tables can be
  // read once this has returned. A reading of a refused line may grow a table,
  // which would move its cells, so it comes after this.
  void copyRows(unsigned threads) {
    // Stretches of about 4 MiB, so that the threads share the work evenly.
    constexpr std::size_t kStretch = std::size_t{1} << 19;
    std::vector<Copy> stretches;
    for (const Copy& copy : copies_) {
      for (std::size_t at = 0; at < copy.count; at += kStretch) {
        stretches.push_back(
            Copy{copy.to + at, copy.from + at, std::min(kStretch, copy.count - at)});
      }
    }
    std::atomic<std::size_t> next{0};
    runOnThreads(static_cast<unsigned>(std::min<std::size_t>(threads, stretches.size())),
                 [&](unsigned) {
                   for (std::size_t i = next++; i < stretches.size(); i = next++) {
                     std::memcpy(stretches[i].to, stretches[i].from,
                                 stretches[i].count * sizeof(std::uint64_t));
                   }
                 });
    copies_.clear();
    copied_.clear();
  }

  // Adds one piece's tables and rows; false once the reading has ended at a failure.
  bool add(Piece& piece, TablesOutcome& outcome) {
    const std::size_t firstTable = tables_.size();
    if (piece.continuedWidth != kNone && !tables_.empty()) {
      Table& table = tables_.back();
      if (piece.continuedWidth != table.columns.size()) {
        copyRows(1);
        return failData(table, piece.continuedLine, outcome, maxRows_);
      }
      const std::size_t room = maxRows_ - table.rows.size();
      if (piece.continued.size() > room) {
        copyRows(1);
        for (std::size_t r = 0; r < room; ++r) {
          const Row row = piece.continued[r];
          const std::vector<std::string_view> cells(row.begin(), row.end());
          table.rows.push_back(cells);
        }
        return failData(table, lineAfter(piece.continuedLine, room), outcome, maxRows_);
      }
      if (std::uint64_t* to = table.rows.placeFor(piece.continued)) {
        copies_.push_back(Copy{to, piece.continued.cellData(), piece.continued.cellCount()});
        copied_.push_back(std::move(piece.continued));
      } else {
        table.rows.append(piece.continued);
      }
      piece.continued = RowList();
    }
    for (Table& table : piece.tables) {
      tables_.push_back(std::move(table));
    }
    const Failure failure = piece.failure;
    switch (failure.kind) {
      case Failure::kNoFailure:
        return true;
      case Failure::kDescriptor:
        outcome.kind = TablesOutcome::kBadDescriptor;
        outcome.descriptor = trimmedView(lineAt(failure.line));
        outcome.refusedLine = failure.line;
        return false;
      case Failure::kFieldCount:
      case Failure::kTooManyRows: {
        copyRows(1);
        Table& table =
            failure.table == kNone ? tables_.back() : tables_[firstTable + failure.table];
        return failData(table, failure.line, outcome, maxRows_);
      }
    }
    return true;
  }

 private:
  std::string_view lineAt(std::size_t position) const {
    LineReader lines(text_, position);
    std::string_view line;
    lines.next(line);
    return line;
  }

  std::size_t lineAfter(std::size_t position, std::size_t count) const {
    LineReader lines(text_, position);
    std::string_view line;
    for (std::size_t i = 0; i < count; ++i) {
      lines.next(line);
    }
    return lines.position();
  }

  // The refused line is read again as one pass would read it, so that its
  // diagnostics are exactly that pass's.
  bool failData(Table& table, std::size_t line, TablesOutcome& outcome, std::size_t maxRows) {
    LineReader lines(text_, line);
    readTableData(lines, table, console_, maxRows);
    outcome.kind = TablesOutcome::kBadData;
    outcome.table = &table;
    outcome.refusedLine = line;
    return false;
  }

  // Rows of a piece that go to a table's reserved cells: copied together, on
  // every thread, once all are placed; their pieces' lists are kept until then.
  struct Copy {
    std::uint64_t* to;
    const std::uint64_t* from;
    std::size_t count;
  };

  std::string_view text_;
  std::vector<Table>& tables_;
  std::ostream& console_;
  std::size_t maxRows_;
  std::vector<Copy> copies_;
  std::vector<RowList> copied_;
};

}  // namespace

TablesOutcome readTables(std::string_view text, std::size_t start, std::vector<Table>& tables,
                         std::ostream& console, Parallelism parallelism, std::size_t maxRows) {
  std::vector<Piece> pieces = cutIntoPieces(text, start, parallelism);
  std::atomic<std::size_t> nextPiece{0};
  std::atomic<std::size_t> firstFailed{kNone};
  const unsigned threads = static_cast<unsigned>(
      std::min<std::size_t>(std::max(parallelism.threads, 1u), pieces.size()));
  runOnThreads(threads, [&](unsigned) {
    PieceParser parser(text, start, maxRows, firstFailed);
    for (std::size_t p = nextPiece++; p < pieces.size(); p = nextPiece++) {
      if (firstFailed.load(std::memory_order_relaxed) < p) {
        continue;
      }
      parser.parse(pieces[p], p);
    }
  });
  reserveFinalSizes(pieces);
  TablesOutcome outcome;
  Assembler assembler(text, tables, console, maxRows);
  for (Piece& piece : pieces) {
    if (!assembler.add(piece, outcome)) {
      break;
    }
  }
  assembler.copyRows(threads);
  return outcome;
}
