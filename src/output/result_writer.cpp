#include "output/result_writer.h"

#include <algorithm>
#include <atomic>
#include <cstring>

namespace {

// Copies count bytes, N <= count <= 2N, as two overlapping blocks of N.
template <std::size_t N>
inline void copyBothEnds(char* to, const char* from, std::size_t count) {
  char head[N];
  char tail[N];
  std::memcpy(head, from, N);
  std::memcpy(tail, from + count - N, N);
  std::memcpy(to, head, N);
  std::memcpy(to + count - N, tail, N);
}

// Cells are short: up to 32 bytes are copied without a call.
inline void copyBytes(char* to, const char* from, std::size_t count) {
  if (count > 32) {
    std::memcpy(to, from, count);
  } else if (count >= 16) {
    copyBothEnds<16>(to, from, count);
  } else if (count >= 8) {
    copyBothEnds<8>(to, from, count);
  } else if (count >= 4) {
    copyBothEnds<4>(to, from, count);
  } else {
    for (std::size_t i = 0; i < count; ++i) {
      to[i] = from[i];
    }
  }
}

// The cells that one level of the plan adds to a joined row. A right table whose
// rows are each written many times has them rendered once ("a,b"), group by group
// in the order of its index, so that writing one is a single copy from memory next
// to that of the rows before it; the others are put together from their cells each
// time.
class LevelCells {
 public:
  LevelCells(std::size_t level, const Table& table) : level_(level), table_(&table) {}

  void addColumn(std::size_t column) { columns_.push_back(column); }
  std::size_t level() const { return level_; }
  // Whether write and length take positions in the index's group order.
  bool rendered() const { return !ends_.empty(); }

  void renderOnce(const RowIndex& index) {
    const RowList& rows = table_->rows;
    // Sized exactly first: growing by doubling would hold up to twice the bytes.
    std::size_t total = 0;
    for (std::uint32_t r = 0; r < rows.size(); ++r) {
      total += length(r);
    }
    rendered_.reserve(total);
    ends_.reserve(rows.size());
    for (std::uint32_t r : index.rowsInGroupOrder()) {
      const Row row = rows[r];
      for (std::size_t i = 0; i < columns_.size(); ++i) {
        if (i != 0) {
          rendered_.push_back(',');
        }
        rendered_.append(row[columns_[i]]);
      }
      ends_.push_back(rendered_.size());
    }
  }

  // The bytes this level adds for row.
  std::size_t length(std::uint32_t row) const {
    if (rendered()) {
      return ends_[row] - (row == 0 ? 0 : ends_[row - 1]);
    }
    const Row cells = table_->rows[row];
    std::size_t total = columns_.size() - 1;
    for (std::size_t column : columns_) {
      total += cells[column].size();
    }
    return total;
  }

  // Writes those bytes at to; returns the end.
  char* write(char* to, std::uint32_t row) const {
    if (rendered()) {
      const std::size_t begin = row == 0 ? 0 : ends_[row - 1];
      const std::size_t count = ends_[row] - begin;
      copyBytes(to, rendered_.data() + begin, count);
      return to + count;
    }
    const Row cells = table_->rows[row];
    for (std::size_t i = 0; i < columns_.size(); ++i) {
      if (i != 0) {
        *to++ = ',';
      }
      const std::string_view cell = cells[columns_[i]];
      copyBytes(to, cell.data(), cell.size());
      to += cell.size();
    }
    return to;
  }

  // Rows of a right table are met in no order; their memory is fetched ahead, the
  // cells first, then the text they point to.
  void prefetchCells(std::uint32_t row) const {
    if (rendered()) {
      __builtin_prefetch(rendered_.data() + (row == 0 ? 0 : ends_[row - 1]));
      return;
    }
    __builtin_prefetch(table_->rows[row].storage());
  }
  void prefetchText(std::uint32_t row) const {
    if (rendered()) {
      return;
    }
    const char* text = table_->rows[row][columns_.front()].data();
    __builtin_prefetch(text);
    __builtin_prefetch(text + 64);
  }

  void writeTo(OutputPart& out, std::uint32_t row) const {
    if (rendered()) {
      const std::size_t begin = row == 0 ? 0 : ends_[row - 1];
      out.write(std::string_view(rendered_).substr(begin, ends_[row] - begin));
      return;
    }
    const Row cells = table_->rows[row];
    for (std::size_t i = 0; i < columns_.size(); ++i) {
      if (i != 0) {
        out.put(',');
      }
      out.write(cells[columns_[i]]);
    }
  }

 private:
  std::size_t level_;
  const Table* table_;
  std::vector<std::size_t> columns_;
  std::string rendered_;
  std::vector<std::size_t> ends_;  // of each row's rendering, when rendered once
};

// How a joined row is put together from the levels that add cells to it.
class RowLayout {
 public:
  explicit RowLayout(const JoinPlan& plan) : wanted_(plan.tables.size(), LevelPositions::kNone) {
    for (const ColumnSource source : plan.sources) {
      if (levels_.empty() || levels_.back().level() != source.level) {
        levels_.emplace_back(source.level, *plan.tables[source.level]);
        wanted_[source.level] = LevelPositions::kRows;
      }
      levels_.back().addColumn(source.column);
    }
    const double firstRows = static_cast<double>(plan.tables.front()->rows.size());
    // The joined rows that follow each other with the same row of a level: about
    // the product of the matches each later step finds for a row.
    std::vector<double> repeats(plan.tables.size(), 1);
    for (std::size_t level = plan.steps.size(); level-- > 0;) {
      const RowIndex& index = *plan.steps[level].index;
      const double rows = static_cast<double>(plan.tables[level + 1]->rows.size());
      const double groups = static_cast<double>(std::max<std::size_t>(1, index.groupCount()));
      repeats[level] = repeats[level + 1] * std::max(1.0, rows / groups);
    }
    remembered_.resize(levels_.size());
    for (std::size_t l = 0; l < levels_.size(); ++l) {
      remembered_[l] = repeats[levels_[l].level()] >= kRepeatsWorthRemembering;
    }
    for (LevelCells& level : levels_) {
      if (level.level() == 0) {
        continue;
      }
      // Each group of equal keys is met by about firstRows / groups rows on the
      // left, and each of its rows is written that often.
      const RowIndex& index = *plan.steps[level.level() - 1].index;
      const double groups = static_cast<double>(std::max<std::size_t>(1, index.groupCount()));
      if (firstRows / groups >= kRepeatsWorthRendering &&
          plan.tables[level.level()]->rows.size() <= kMostRowsToRender) {
        level.renderOnce(index);
        wanted_[level.level()] = LevelPositions::kOrdinals;
      }
    }
  }

  const std::vector<LevelCells>& levels() const { return levels_; }
  const std::vector<LevelPositions>& wanted() const { return wanted_; }
  // Whether a writer keeps the bytes it last wrote for levels()[l], for the rows
  // after it that repeat them.
  bool remembered(std::size_t l) const { return remembered_[l] && !levels_[l].rendered(); }

 private:
  static constexpr double kRepeatsWorthRendering = 4;
  static constexpr double kRepeatsWorthRemembering = 2;
  static constexpr std::size_t kMostRowsToRender = std::size_t{1} << 24;

  std::vector<LevelCells> levels_;      // those that add at least one cell
  std::vector<LevelPositions> wanted_;  // by level of the plan
  std::vector<bool> remembered_;        // by entry of levels_
};

// Writes chunks of joined rows into one part of the output.
class ChunkWriter {
 public:
  ChunkWriter(const RowLayout& layout, OutputPart& out)
      : layout_(layout), out_(out), last_(layout.levels().size()) {}

  // False once the output has failed.
  bool write(const JoinedChunk& chunk) {
    chunk.positionsByLevel(layout_.wanted(), positions_);
    const std::vector<LevelCells>& levels = layout_.levels();
    for (std::size_t i = 0; i < chunk.size(); ++i) {
      if (i + kCellsAhead < chunk.size()) {
        for (const LevelCells& level : levels) {
          level.prefetchCells(positions_[level.level()][i + kCellsAhead]);
        }
      }
      if (i + kTextAhead < chunk.size()) {
        for (const LevelCells& level : levels) {
          level.prefetchText(positions_[level.level()][i + kTextAhead]);
        }
      }
      // The commas between levels and the line end.
      std::size_t length = std::max<std::size_t>(levels.size(), 1);
      for (std::size_t l = 0; l < levels.size(); ++l) {
        const std::uint32_t row = positions_[levels[l].level()][i];
        if (layout_.remembered(l)) {
          length += remember(l, row).size();
          continue;
        }
        length += levels[l].length(row);
      }
      if (length > OutputBuffer::kCapacity) {
        writeLongRow(i);
        continue;
      }
      OutputBuffer& buffer = out_.reserve(length);
      char* to = buffer.end();
      for (std::size_t l = 0; l < levels.size(); ++l) {
        if (l != 0) {
          *to++ = ',';
        }
        if (layout_.remembered(l)) {
          const std::string& bytes = last_[l].bytes;
          copyBytes(to, bytes.data(), bytes.size());
          to += bytes.size();
          continue;
        }
        to = levels[l].write(to, positions_[levels[l].level()][i]);
      }
      *to++ = '\n';
      buffer.advance(length);
    }
    return out_.healthy();
  }

 private:
  struct Remembered {
    std::uint32_t row = 0;
    bool valid = false;
    std::string bytes;
  };

  // The bytes of that level for row, rendered again only when the row changes.
  const std::string& remember(std::size_t l, std::uint32_t row) {
    Remembered& last = last_[l];
    if (!last.valid || last.row != row) {
      const LevelCells& level = layout_.levels()[l];
      last.bytes.resize(level.length(row));
      level.write(last.bytes.data(), row);
      last.row = row;
      last.valid = true;
    }
    return last.bytes;
  }

  static constexpr std::size_t kCellsAhead = 128;
  static constexpr std::size_t kTextAhead = 48;

  void writeLongRow(std::size_t i) {
    const std::vector<LevelCells>& levels = layout_.levels();
    for (std::size_t l = 0; l < levels.size(); ++l) {
      if (l != 0) {
        out_.put(',');
      }
      levels[l].writeTo(out_, positions_[levels[l].level()][i]);
    }
    out_.put('\n');
  }

  const RowLayout& layout_;
  OutputPart& out_;
  std::vector<Remembered> last_;  // by entry of the layout's levels
  std::vector<std::vector<std::uint32_t>> positions_;
};

std::size_t rowsPerPart(std::size_t firstRows, Parallelism parallelism) {
  if (parallelism.pieceRows != 0) {
    return parallelism.pieceRows;
  }
  return std::clamp<std::size_t>(firstRows / (8 * parallelism.threads), 1024, 65536);
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

bool writeJoinedTable(const JoinPlan& plan, OutputFile& out, Parallelism parallelism,
                      JoinWorkLimit limit) {
  writeTableStart(out, plan.name, plan.columns);
  const RowLayout layout(plan);
  const std::size_t firstRows = plan.tables.front()->rows.size();
  const std::size_t partRows = rowsPerPart(firstRows, parallelism);
  const std::size_t parts = (firstRows + partRows - 1) / partRows;
  JoinWorkBudget budget(limit);
  std::atomic<std::size_t> nextPart{0};
  std::atomic<bool> stopped{false};
  out.beginParts();
  runOnThreads(std::min<std::size_t>(parallelism.threads, std::max<std::size_t>(parts, 1)),
               [&](unsigned) {
                 for (std::size_t part = nextPart++; part < parts; part = nextPart++) {
                   OutputPart output(out, part);
                   if (stopped) {
                     continue;
                   }
                   ChunkWriter writer(layout, output);
                   const FirstRows rows{part * partRows, (part + 1) * partRows};
                   const bool complete = forEachJoinedChunk(
                       plan, [&writer](const JoinedChunk& chunk) { return writer.write(chunk); },
                       rows, budget);
                   if (!complete) {
                     stopped = true;
                   }
                 }
               });
  out.endParts();
  return out.flush() && !stopped;
}
