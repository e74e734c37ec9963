#include "output/result_writer.h"

namespace {

// Writes the rows of a join plan. The cells each table adds to a joined row are
// looked at once per row of that table, not once per joined row: where they stand in
// the input exactly as they are to be written (one comma between neighbours, no
// spaces), that stretch of the input is copied as a whole.
class JoinedRowWriter {
 public:
  explicit JoinedRowWriter(const JoinPlan& plan);

  // False once the output has failed.
  bool writeChunk(OutputFile& out, const JoinedChunk& chunk);

 private:
  struct Level {
    std::size_t level;
    const Table* table;
    std::vector<std::size_t> columns;  // the cells this level adds, in order
    std::vector<bool> tidy;            // per row: stretches holds its cells as written
    RowList stretches{1};
  };

  static void prepareStretches(Level& level);
  static void writeCells(OutputFile& out, const Level& level, std::uint32_t row);

  std::vector<Level> levels_;  // those that add at least one cell
  std::vector<bool> wanted_;   // by level of the plan: whether it adds a cell
  std::vector<std::vector<std::uint32_t>> positions_;
};

JoinedRowWriter::JoinedRowWriter(const JoinPlan& plan) : wanted_(plan.tables.size()) {
  for (const ColumnSource source : plan.sources) {
    if (levels_.empty() || levels_.back().level != source.level) {
      levels_.push_back(Level{source.level, plan.tables[source.level], {}, {}, RowList(1)});
      wanted_[source.level] = true;
    }
    levels_.back().columns.push_back(source.column);
  }
  for (Level& level : levels_) {
    prepareStretches(level);
  }
}

void JoinedRowWriter::prepareStretches(Level& level) {
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

bool JoinedRowWriter::writeChunk(OutputFile& out, const JoinedChunk& chunk) {
  chunk.positionsByLevel(wanted_, positions_);
  for (std::size_t i = 0; i < chunk.size(); ++i) {
    bool first = true;
    for (const Level& level : levels_) {
      if (!first) {
        out.put(',');
      }
      first = false;
      const std::uint32_t row = positions_[level.level][i];
      if (level.tidy[row]) {
        out.write(level.stretches[row][0]);
        continue;
      }
      writeCells(out, level, row);
    }
    out.put('\n');
  }
  return !out.hasFailed();
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

}  // namespace

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

bool writeJoinedTable(const JoinPlan& plan, OutputFile& out, JoinWorkLimit limit) {
  writeTableStart(out, plan.name, plan.columns);
  JoinedRowWriter writer(plan);
  const bool complete = forEachJoinedChunk(
      plan, [&out, &writer](const JoinedChunk& chunk) { return writer.writeChunk(out, chunk); },
      limit);
  return out.flush() && complete;
}
