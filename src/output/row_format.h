// The formats a result is written in, and the only unit that knows them:
// - the notation of the input (the default): two line ends, the descriptor line
//   "name(col, col)", then a line per row with "," between cells, every byte as
//   stored; the output starts with the copy of the input;
// - CSV (RFC 4180), the joined table alone: a line of column keys, then the rows,
//   a cell double-quoted where it holds a comma, a double quote or a line end,
//   lines ended by CRLF;
// - TSV, the joined table alone: a line of column keys, then the rows, cells
//   separated by a tab, a tab, CR, LF or backslash in a cell written \t, \r, \n or
//   \\, lines ended by LF.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "text/cell_encoder.h"

class RowFormat {
 public:
  enum class Kind { kNotation, kCsv, kTsv };
  RowFormat() = default;
  explicit RowFormat(Kind kind) : kind_(kind) {}
  // The format a --result value names ("csv", "tsv"), if any.
  static std::optional<RowFormat> named(std::string_view name);

  Kind kind() const { return kind_; }
  // Whether the output starts with the copy of the input.
  bool followsCopy() const { return kind_ == Kind::kNotation; }
  // How each cell and the bytes between cells are written.
  CellEncoder encoder() const;
  std::string_view lineEnd() const { return kind_ == Kind::kCsv ? "\r\n" : "\n"; }
  // A row of one empty cell, where an empty line would be skipped by readers.
  std::string_view loneEmptyCell() const { return kind_ == Kind::kCsv ? "\"\"" : ""; }

  // What comes before the rows of the table named name with these column
  // descriptors: its descriptor line, or the line of its column keys.
  std::string tableStart(std::string_view name, std::span<const std::string> columns) const;
  // Appends one row of cells and its line end.
  void appendRow(std::string& out, std::span<const std::string_view> cells) const;

 private:
  Kind kind_ = Kind::kNotation;
};
