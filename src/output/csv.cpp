#include "output/csv.h"

#include "text/cell_format.h"

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
    const std::size_t at = out.size();
    out.resize(at + formattedLength(fields[i], CellFormat::kCsv));
    writeFormatted(out.data() + at, fields[i], CellFormat::kCsv);
  }
  out.append("\r\n");
}
