// How a cell is written out: as the input notation writes it (its bytes as they
// are) or as a field of standard CSV (RFC 4180), double-quoted where it holds a
// comma, a double quote or a line end, its double quotes doubled.
#pragma once

#include <cstddef>
#include <string_view>

enum class CellFormat { kNotation, kCsv };

inline bool csvNeedsQuotes(std::string_view cell) {
  return cell.find_first_of(",\"\r\n") != std::string_view::npos;
}

// The bytes cell takes when written in format.
inline std::size_t formattedLength(std::string_view cell, CellFormat format) {
  if (format == CellFormat::kNotation || !csvNeedsQuotes(cell)) {
    return cell.size();
  }
  std::size_t length = cell.size() + 2;
  for (const char byte : cell) {
    length += byte == '"' ? 1 : 0;
  }
  return length;
}

// Writes cell in format at to, room for formattedLength bytes; returns the end.
inline char* writeFormatted(char* to, std::string_view cell, CellFormat format) {
  if (format == CellFormat::kNotation || !csvNeedsQuotes(cell)) {
    for (const char byte : cell) {
      *to++ = byte;
    }
    return to;
  }
  *to++ = '"';
  for (const char byte : cell) {
    if (byte == '"') {
      *to++ = '"';
    }
    *to++ = byte;
  }
  *to++ = '"';
  return to;
}
