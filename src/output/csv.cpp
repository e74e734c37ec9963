#include "output/csv.h"

namespace {

bool needsQuotes(std::string_view field) {
  return field.find_first_of(",\"\r\n") != std::string_view::npos;
}

}  // namespace

void appendCsvRecord(std::string& out, std::span<const std::string_view> fields) {
  // A lone empty field would be an empty line, which readers skip.
  if (fields.size() == 1 && fields[0].empty()) {
    out.append("\"\"\r\n");
    return;
  }
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i != 0) {
      out.push_back(',');
    }
    const std::string_view field = fields[i];
    if (!needsQuotes(field)) {
      out.append(field);
      continue;
    }
    out.push_back('"');
    for (const char byte : field) {
      if (byte == '"') {
        out.push_back('"');
      }
      out.push_back(byte);
    }
    out.push_back('"');
  }
  out.append("\r\n");
}
