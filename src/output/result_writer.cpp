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

JoinedRowWriter::JoinedRowWriter(const JoinPlan& plan) {
  for (std::size_t c = 0; c < plan.sources.size(); ++c) {
    const ColumnSource source = plan.sources[c];
    if (levels_.empty() || levels_.back().level != source.level) {
      levels_.push_back(Level{source.level, plan.tables[source.level], {}, {}, RowList(1)});
    }
    levels_.back().columns.push_back(source.column);
  }
  for (Level& level : levels_) {
    const RowList& rows = level.table->rows;
    level.tidy.resize(rows.size());
    for (std::size_t r = 0; r < rows.size(); ++r) {
      const Row row = rows[r];
      const std::string_view first = row[level.columns.front()];
      std::size_t length = first.size();
      bool tidy = true;
      for (std::size_t i = 1; i < level.columns.size() && tidy; ++i) {
        const std::string_view next = row[level.columns[i]];
        tidy = followsWithComma(first, length, next);
        length += 1 + next.size();
      }
      level.tidy[r] = tidy;
      const std::string_view stretch = tidy ? std::string_view(first.data(), length) : first;
      level.stretches.push_back(Cells(&stretch, 1));
    }
  }
}

void JoinedRowWriter::writeCells(OutputFile& out, const Level& level, std::uint32_t row) {
  const Row cells = level.table->rows[row];
  for (std::size_t i = 0; i < level.columns.size(); ++i) {
    if (i != 0) {
      out.put(',');
    }
    out.write(cells[level.columns[i]]);
  }
}
