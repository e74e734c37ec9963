#include "output/row_format.h"

#include <vector>

#include "join/join_plan.h"

namespace {

bool csvNeedsQuotes(std::string_view cell) {
  return cell.find_first_of(",\"\r\n") != std::string_view::npos;
}

std::size_t csvLength(std::string_view cell) {
  if (!csvNeedsQuotes(cell)) {
    return cell.size();
  }
  std::size_t length = cell.size() + 2;
  for (const char byte : cell) {
    length += byte == '"' ? 1 : 0;
  }
  return length;
}

char* writeCsv(char* to, std::string_view cell) {
  const bool quoted = csvNeedsQuotes(cell);
  if (quoted) {
    *to++ = '"';
  }
  for (const char byte : cell) {
    if (byte == '"') {
      *to++ = '"';
    }
    *to++ = byte;
  }
  if (quoted) {
    *to++ = '"';
  }
  return to;
}

// The letter after the backslash that stands for byte, or 0 when it stands as it is.
char tsvEscape(char byte) {
  switch (byte) {
    case '\t':
      return 't';
    case '\r':
      return 'r';
    case '\n':
      return 'n';
    case '\\':
      return '\\';
    default:
      return 0;
  }
}

std::size_t tsvLength(std::string_view cell) {
  std::size_t length = cell.size();
  for (const char byte : cell) {
    length += tsvEscape(byte) != 0 ? 1 : 0;
  }
  return length;
}

char* writeTsv(char* to, std::string_view cell) {
  for (const char byte : cell) {
    if (const char letter = tsvEscape(byte); letter != 0) {
      *to++ = '\\';
      *to++ = letter;
    } else {
      *to++ = byte;
    }
  }
  return to;
}

}  // namespace

std::optional<RowFormat> RowFormat::named(std::string_view name) {
  if (name == "csv") {
    return RowFormat(Kind::kCsv);
  }
  if (name == "tsv") {
    return RowFormat(Kind::kTsv);
  }
  return std::nullopt;
}

CellEncoder RowFormat::encoder() const {
  switch (kind_) {
    case Kind::kNotation:
      break;
    case Kind::kCsv:
      return CellEncoder{',', csvLength, writeCsv};
    case Kind::kTsv:
      return CellEncoder{'\t', tsvLength, writeTsv};
  }
  return CellEncoder{};
}

std::string RowFormat::tableStart(std::string_view name,
                                  std::span<const std::string> columns) const {
  std::string start;
  if (kind_ == Kind::kNotation) {
    start.append("\n\n").append(name).append("(");
    for (std::size_t i = 0; i < columns.size(); ++i) {
      start.append(i == 0 ? "" : ", ").append(columns[i]);
    }
    return start.append(")\n");
  }
  std::vector<std::string> keys;
  for (const std::string& column : columns) {
    keys.push_back(descriptorKey(column));
  }
  const std::vector<std::string_view> cells(keys.begin(), keys.end());
  appendRow(start, cells);
  return start;
}

void RowFormat::appendRow(std::string& out, std::span<const std::string_view> cells) const {
  if (cells.size() == 1 && cells[0].empty()) {
    out.append(loneEmptyCell()).append(lineEnd());
    return;
  }
  const CellEncoder cellEncoder = encoder();
  for (std::size_t i = 0; i < cells.size(); ++i) {
    if (i != 0) {
      out.push_back(cellEncoder.separator);
    }
    const std::size_t at = out.size();
    out.resize(at + cellEncoder.lengthOf(cells[i]));
    cellEncoder.writeTo(out.data() + at, cells[i]);
  }
  out.append(lineEnd());
}
