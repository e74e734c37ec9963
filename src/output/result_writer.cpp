#include "output/result_writer.h"

void writeTableStart(OutputFile& out, std::string_view name, std::span<const std::string> columns) {
  out.write("\n\n");
  out.write(name);
  out.put('(');
  for (std::size_t i = 0; i < columns.size(); ++i) {
    if (i != 0) {
      out.write(", ");
    }
    out.write(columns[i]);
  }
  out.write(")\n");
}
