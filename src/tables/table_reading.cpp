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

// lines, a stretch of text, extended to end there.
std::string_view extendedTo(std::string_view text, std::string_view lines, std::size_t end) {
  const auto begin = static_cast<std::size_t>(lines.data() - text.data());
  return text.substr(begin, end - begin);
}

struct Failure {
  enum Kind { kNoFailure, kDescriptor, kFieldCount, kTooManyRows };
  Kind kind = kNoFailure;
  std::size_t line = 0;       // where the refused line starts
  std::size_t table = kNone;  // in the piece's tables; kNone: the continued table
};

// The continued rows are parsed into their place by several threads at once, a
// stretch of this many rows each.
constexpr std::size_t kRowsAStretch = std::size_t{1} << 16;

struct Piece {
  std::size_t begin = 0;
  std::size_t end = 0;
  std::vector<Table> tables;  // opened in this piece
  // Rows at the start that continue an earlier table, with the field count they
  // share: only checked here, and parsed once it is known where they go.
  std::size_t continuedWidth = kNone;
  std::size_t continuedEnd = 0;  // they start at begin
  std::size_t continuedRows = 0;
  std::vector<std::size_t> stretchStarts;  // of every kRowsAStretch-th of them
  Failure failure;
};

class PieceParser {
 public:
  PieceParser(std::string_view text, std::size_t start, std::size_t maxRows,
              const TableNameTest& leftInText, std::atomic<std::size_t>& firstFailed)
      : text_(text),
        start_(start),
        maxRows_(maxRows),
        leftInText_(leftInText),
        firstFailed_(firstFailed) {}

  void parse(Piece& piece, std::size_t number) {
    LineReader lines(text_.substr(0, piece.end), piece.begin);
    LineKinds kinds(piece.begin == start_ || blankLineBefore(text_, piece.begin));
    Table* table = nullptr;
    std::string_view line;
    std::size_t counted = 0;  // fields of a line only checked, found with its end
    const auto nextLine = [&] {
      return table == nullptr || table->rowsLeftInText ? lines.nextFieldCount(line, ',', counted)
                                                       : lines.next(line);
    };
    for (std::size_t position = lines.position(); nextLine(); position = lines.position()) {
      if ((++linesSinceCheck_ & 4095) == 0 &&
          firstFailed_.load(std::memory_order_relaxed) < number) {
        return;  // an earlier piece ends the reading before this one matters
      }
      const std::string_view trimmed = trimmedView(line);
      const LineKinds::Kind kind = kinds.next(trimmed);
      if (kind == LineKinds::kBlank) {
        table = nullptr;
        continue;
      }
      if (kind == LineKinds::kDescriptor) {
        if (!parseTableDescriptor(std::string(trimmed), piece.tables)) {
          fail(piece, number, Failure{Failure::kDescriptor, position, kNone});
          return;
        }
        table = &piece.tables.back();
        table->rows = RowList(table->columns.size(), text_.data());
        if (leftInText_ && leftInText_(table->name)) {
          table->rowsLeftInText = true;
          table->rowLines = text_.substr(lines.position(), 0);
        }
        continue;
      }
      // Rows that are only checked here are counted, not cut.
      const bool checkedOnly = table == nullptr || table->rowsLeftInText;
      const std::size_t width = checkedOnly ? counted : cut(trimmed);
      if (table == nullptr) {
        if (piece.continuedWidth == kNone) {
          piece.continuedWidth = width;
        }
        if (width != piece.continuedWidth) {
          fail(piece, number, Failure{Failure::kFieldCount, position, kNone});
          return;
        }
        if (piece.continuedRows % kRowsAStretch == 0) {
          piece.stretchStarts.push_back(position);
        }
        ++piece.continuedRows;
        piece.continuedEnd = lines.position();
        continue;
      }
      const std::size_t tableNumber = piece.tables.size() - 1;
      if (width != table->columns.size()) {
        fail(piece, number, Failure{Failure::kFieldCount, position, tableNumber});
        return;
      }
      if (rowCount(*table) == maxRows_) {
        fail(piece, number, Failure{Failure::kTooManyRows, position, tableNumber});
        return;
      }
      if (table->rowsLeftInText) {
        ++table->rowsInText;
        table->rowLines = extendedTo(text_, table->rowLines, lines.position());
        continue;
      }
      for (std::string_view& field : fields_) {
        field = trimmedView(field);
      }
      table->rows.push_back(fields_);
    }
  }

 private:
  std::size_t cut(std::string_view line) {
    splitInto(line, ',', fields_);
    return fields_.size();
  }

  void fail(Piece& piece, std::size_t number, Failure failure) {
    piece.failure = failure;
    std::size_t known = firstFailed_.load();
    while (number < known && !firstFailed_.compare_exchange_weak(known, number)) {
    }
  }

  std::string_view text_;
  std::size_t start_;
  std::size_t maxRows_;
  const TableNameTest& leftInText_;
  std::atomic<std::size_t>& firstFailed_;
  std::vector<std::string_view> fields_;
  std::size_t linesSinceCheck_ = 0;
};

std::vector<Piece> cutIntoPieces(std::string_view text, std::size_t start, ParseSpread spread) {
  const std::size_t size = text.size() - start;
  std::size_t pieceBytes = spread.pieceBytes;
  if (pieceBytes == 0) {
    pieceBytes = spread.threads <= 1 || size < 2 * kSmallestPiece
                     ? size
                     : std::max(kSmallestPiece, size / (4 * spread.threads));
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

// The rows each kept table will hold once the pieces are put together, so that
// each gets its memory once, at its final size.
void reserveFinalSizes(std::vector<Piece>& pieces) {
  Table* open = nullptr;
  std::size_t rows = 0;
  const auto reserve = [&] {
    if (open != nullptr && !open->rowsLeftInText) {
      open->rows.reserve(rows);
    }
  };
  for (Piece& piece : pieces) {
    rows += piece.continuedRows;
    for (Table& table : piece.tables) {
      reserve();
      open = &table;
      rows = table.rows.size();
    }
  }
  reserve();
}

class Assembler {
 public:
  Assembler(std::string_view text, std::vector<Table>& tables, std::ostream& console,
            std::size_t maxRows)
      : text_(text), tables_(tables), console_(console), maxRows_(maxRows) {}

  // Parses the continued rows into the places kept for them, on threads; their
  // tables can be read once this has returned. A reading of a refused line may
  // grow a table, which would move its cells, so it comes after this.
  void parseIntoPlace(unsigned threads) {
    std::atomic<std::size_t> next{0};
    runOnThreads(static_cast<unsigned>(std::min<std::size_t>(threads, stretches_.size())),
                 [&](unsigned) {
                   std::vector<std::string_view> fields;
                   for (std::size_t i = next++; i < stretches_.size(); i = next++) {
                     stretches_[i].complete = parseStretch(stretches_[i], fields, false);
                   }
                 });
    // A cell that must be kept aside is kept by its list, on one thread.
    std::vector<std::string_view> fields;
    for (ReservedRows& stretch : stretches_) {
      if (!stretch.complete) {
        parseStretch(stretch, fields, true);
      }
    }
    stretches_.clear();
  }

  // Adds one piece's tables and rows; false once the reading has ended at a failure.
  bool add(Piece& piece, TablesOutcome& outcome) {
    const std::size_t firstTable = tables_.size();
    if (piece.continuedWidth != kNone && !tables_.empty() &&
        !addContinuedRows(piece, tables_.back(), outcome)) {
      return false;
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
        Table& table =
            failure.table == kNone ? tables_.back() : tables_[firstTable + failure.table];
        return failData(table, failure.line, outcome);
      }
    }
    return true;
  }

 private:
  // Rows of a piece to parse into a table's reserved cells: taken together, on
  // every thread, once all are placed.
  struct ReservedRows {
    std::size_t table;  // in tables_, which may move until the parse
    std::uint64_t* to;  // room for rows rows
    std::size_t rows;
    std::string_view lines;
    bool complete = false;
  };

  bool addContinuedRows(const Piece& piece, Table& table, TablesOutcome& outcome) {
    if (piece.continuedWidth != table.columns.size()) {
      return failData(table, piece.begin, outcome);
    }
    const std::string_view lines = text_.substr(piece.begin, piece.continuedEnd - piece.begin);
    const std::size_t room = maxRows_ - rowCount(table);
    if (piece.continuedRows > room) {
      const std::size_t refused = lineAfter(piece.begin, room);
      if (table.rowsLeftInText) {
        table.rowsInText += room;
      } else {
        parseIntoPlace(1);
        LineReader rows(text_.substr(0, refused), piece.begin);
        readTableData(rows, table, console_, maxRows_);
      }
      return failData(table, refused, outcome);
    }
    if (table.rowsLeftInText) {
      table.rowLines = extendedTo(text_, table.rowLines, piece.continuedEnd);
      table.rowsInText += piece.continuedRows;
      return true;
    }
    std::uint64_t* to = table.rows.placeFor(piece.continuedRows);
    if (to == nullptr) {
      parseIntoPlace(1);
      LineReader rows(lines);
      readTableData(rows, table, console_, maxRows_);
      return true;
    }
    const std::size_t width = table.columns.size();
    for (std::size_t i = 0; i < piece.stretchStarts.size(); ++i) {
      const std::size_t begin = piece.stretchStarts[i];
      const std::size_t end =
          i + 1 < piece.stretchStarts.size() ? piece.stretchStarts[i + 1] : piece.continuedEnd;
      stretches_.push_back(ReservedRows{
          static_cast<std::size_t>(&table - tables_.data()), to + i * kRowsAStretch * width,
          std::min(kRowsAStretch, piece.continuedRows - i * kRowsAStretch),
          text_.substr(begin, end - begin)});
    }
    return true;
  }

  // False when a cell had to be kept aside and anywhere was not given. The text
  // may have changed since it was checked: exactly the rows counted then are
  // stored, each of the table's width, whatever the lines now hold.
  bool parseStretch(const ReservedRows& stretch, std::vector<std::string_view>& fields,
                    bool anywhere) {
    std::uint64_t* to = stretch.to;
    RowList& rows = tables_[stretch.table].rows;
    LineReader lines(stretch.lines);
    std::string_view line = stretch.lines.substr(stretch.lines.size());
    bool asChecked = true;
    for (std::size_t row = 0; row < stretch.rows; ++row) {
      if (!lines.nextFields(line, ',', fields)) {
        asChecked = false;
        line = line.substr(line.size());
        fields.clear();
      }
      asChecked = fitToWidth(line, rows.width(), fields) && asChecked;
      for (const std::string_view field : fields) {
        if (anywhere) {
          rows.store(to, field);
        } else if (!rows.tryStore(to, field)) {
          return false;
        }
        ++to;
      }
    }
    if (!asChecked || lines.next(line)) {
      noteInputChangedUnderRun();
    }
    return true;
  }

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
  bool failData(Table& table, std::size_t line, TablesOutcome& outcome) {
    parseIntoPlace(1);
    LineReader lines(text_, line);
    readTableData(lines, table, console_, maxRows_);
    outcome.kind = TablesOutcome::kBadData;
    outcome.table = &table;
    outcome.refusedLine = line;
    return false;
  }

  std::string_view text_;
  std::vector<Table>& tables_;
  std::ostream& console_;
  std::size_t maxRows_;
  std::vector<ReservedRows> stretches_;
};

}  // namespace

TablesOutcome readTables(std::string_view text, std::size_t start, std::vector<Table>& tables,
                         std::ostream& console, ParseSpread spread, std::size_t maxRows,
                         const TableNameTest& leftInText) {
  std::vector<Piece> pieces = cutIntoPieces(text, start, spread);
  std::atomic<std::size_t> nextPiece{0};
  std::atomic<std::size_t> firstFailed{kNone};
  const unsigned threads =
      static_cast<unsigned>(std::min<std::size_t>(std::max(spread.threads, 1u), pieces.size()));
  runOnThreads(threads, [&](unsigned) {
    PieceParser parser(text, start, maxRows, leftInText, firstFailed);
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
  assembler.parseIntoPlace(threads);
  return outcome;
}
