#include "output/result_writer.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>

#include "output/row_format.h"

// Outside this file only the layout's name is known.
namespace result_layout {

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

// The cells that one level of the plan adds to a joined row. The first table's
// are put together from its cells; a right table's rows are each rendered once in
// its index, next to the key that found them, and copied from there.
class LevelCells {
 public:
  LevelCells(std::size_t level, const HashIndex* index, CellEncoder encoder)
      : level_(level), index_(index), encoder_(encoder) {}

  void addColumn(std::size_t column) { columns_.push_back(column); }
  std::size_t level() const { return level_; }
  // Whether positions are places of payloads rather than rows.
  bool hasPayloads() const { return index_ != nullptr; }

  // The bytes this level adds for the row at position; a level without an index
  // finds its rows in firstRows.
  std::size_t length(std::uint64_t position, const RowList& firstRows) const {
    if (hasPayloads()) {
      return index_->payload(position).size();
    }
    const Row cells = firstRows[position];
    std::size_t total = columns_.size() - 1;
    for (std::size_t column : columns_) {
      total += encoder_.lengthOf(cells[column]);
    }
    return total;
  }

  // Writes those bytes at to; returns the end.
  char* write(char* to, std::uint64_t position, const RowList& firstRows) const {
    if (hasPayloads()) {
      const std::string_view bytes = index_->payload(position);
      copyBytes(to, bytes.data(), bytes.size());
      return to + bytes.size();
    }
    const Row cells = firstRows[position];
    for (std::size_t i = 0; i < columns_.size(); ++i) {
      if (i != 0) {
        *to++ = encoder_.separator;
      }
      const std::string_view cell = cells[columns_[i]];
      if (encoder_.write != nullptr) {
        to = encoder_.write(to, cell);
        continue;
      }
      copyBytes(to, cell.data(), cell.size());
      to += cell.size();
    }
    return to;
  }

  void writeTo(OutputPart& out, std::uint64_t position, const RowList& firstRows) const {
    if (hasPayloads()) {
      out.write(index_->payload(position));
      return;
    }
    const Row cells = firstRows[position];
    for (std::size_t i = 0; i < columns_.size(); ++i) {
      if (i != 0) {
        out.put(encoder_.separator);
      }
      const std::string_view cell = cells[columns_[i]];
      if (encoder_.write != nullptr) {
        std::string encoded(encoder_.lengthOf(cell), '\0');
        encoder_.write(encoded.data(), cell);
        out.write(encoded);
        continue;
      }
      out.write(cell);
    }
  }

 private:
  std::size_t level_;
  const HashIndex* index_;  // of the step that joins this level's table; none at level 0
  CellEncoder encoder_;
  std::vector<std::size_t> columns_;
};

// How a joined row is put together from the levels that add cells to it.
class RowLayout {
 public:
  RowLayout(const JoinPlan& plan, const RowFormat& format)
      : wanted_(plan.tables.size(), LevelPositions::kNone),
        separator_(format.encoder().separator),
        lineEnd_(format.lineEnd()),
        loneEmptyCell_(plan.columns.size() == 1 ? format.loneEmptyCell() : "") {
    for (const ColumnSource source : plan.sources) {
      if (levels_.empty() || levels_.back().level() != source.level) {
        const HashIndex* index = source.level == 0 ? nullptr : plan.steps[source.level - 1].index;
        levels_.emplace_back(source.level, index, format.encoder());
        wanted_[source.level] =
            index == nullptr ? LevelPositions::kRows : LevelPositions::kPayloads;
      }
      levels_.back().addColumn(source.column);
    }
    // The joined rows that follow each other with the same row of a level: about
    // the product of the matches each later step finds for a row.
    std::vector<double> repeats(plan.tables.size(), 1);
    for (std::size_t level = plan.steps.size(); level-- > 0;) {
      const HashIndex& index = *plan.steps[level].index;
      const double rows = static_cast<double>(rowCount(*plan.tables[level + 1]));
      const double groups = static_cast<double>(std::max<std::size_t>(1, index.groupCount()));
      repeats[level] = repeats[level + 1] * std::max(1.0, rows / groups);
    }
    remembered_.resize(levels_.size());
    for (std::size_t l = 0; l < levels_.size(); ++l) {
      remembered_[l] = repeats[levels_[l].level()] >= kRepeatsWorthRemembering;
    }
  }

  const std::vector<LevelCells>& levels() const { return levels_; }
  const std::vector<LevelPositions>& wanted() const { return wanted_; }
  // Whether a writer keeps the bytes it last wrote for levels()[l], for the rows
  // after it that repeat them.
  bool remembered(std::size_t l) const { return remembered_[l] && !levels_[l].hasPayloads(); }
  char separator() const { return separator_; }
  std::string_view lineEnd() const { return lineEnd_; }
  // What a row of one empty cell is written as, where not as an empty line.
  std::string_view loneEmptyCell() const { return loneEmptyCell_; }

 private:
  static constexpr double kRepeatsWorthRemembering = 2;

  std::vector<LevelCells> levels_;      // those that add at least one cell
  std::vector<LevelPositions> wanted_;  // by level of the plan
  std::vector<bool> remembered_;        // by entry of levels_
  char separator_;
  std::string_view lineEnd_;
  std::string_view loneEmptyCell_;
};

// Writes chunks of joined rows into one part of the output.
class ChunkWriter {
 public:
  ChunkWriter(const RowLayout& layout, OutputPart& out)
      : layout_(layout), out_(out), last_(layout.levels().size()) {}

  // False once the output has failed.
  bool write(const JoinedChunk& chunk) {
    chunk.positionsByLevel(layout_.wanted(), positions_);
    const RowList& firstRows = chunk.firstRows();
    const std::vector<LevelCells>& levels = layout_.levels();
    for (std::size_t i = 0; i < chunk.size(); ++i) {
      // The separators between levels and the line end.
      std::size_t length = std::max<std::size_t>(levels.size(), 1) - 1 + layout_.lineEnd().size();
      for (std::size_t l = 0; l < levels.size(); ++l) {
        const std::uint64_t row = positions_[levels[l].level()][i];
        if (layout_.remembered(l)) {
          length += remember(l, row, firstRows).size();
          continue;
        }
        length += levels[l].length(row, firstRows);
      }
      if (length > OutputBuffer::kCapacity) {
        writeLongRow(i, firstRows);
        continue;
      }
      if (length == layout_.lineEnd().size() && !layout_.loneEmptyCell().empty()) {
        out_.write(layout_.loneEmptyCell());
        out_.write(layout_.lineEnd());
        continue;
      }
      OutputBuffer& buffer = out_.reserve(length);
      char* to = buffer.end();
      for (std::size_t l = 0; l < levels.size(); ++l) {
        if (l != 0) {
          *to++ = layout_.separator();
        }
        if (layout_.remembered(l)) {
          const std::string& bytes = last_[l].bytes;
          copyBytes(to, bytes.data(), bytes.size());
          to += bytes.size();
          continue;
        }
        to = levels[l].write(to, positions_[levels[l].level()][i], firstRows);
      }
      for (const char byte : layout_.lineEnd()) {
        *to++ = byte;
      }
      buffer.advance(length);
    }
    return out_.healthy();
  }

 private:
  struct Remembered {
    std::uint64_t row = 0;
    bool valid = false;
    std::string bytes;
  };

  // The bytes of that level for row, rendered again only when the row changes.
  const std::string& remember(std::size_t l, std::uint64_t row, const RowList& firstRows) {
    Remembered& last = last_[l];
    if (!last.valid || last.row != row) {
      const LevelCells& level = layout_.levels()[l];
      last.bytes.resize(level.length(row, firstRows));
      level.write(last.bytes.data(), row, firstRows);
      last.row = row;
      last.valid = true;
    }
    return last.bytes;
  }

  void writeLongRow(std::size_t i, const RowList& firstRows) {
    const std::vector<LevelCells>& levels = layout_.levels();
    for (std::size_t l = 0; l < levels.size(); ++l) {
      if (l != 0) {
        out_.put(layout_.separator());
      }
      levels[l].writeTo(out_, positions_[levels[l].level()][i], firstRows);
    }
    out_.write(layout_.lineEnd());
  }

  const RowLayout& layout_;
  OutputPart& out_;
  std::vector<Remembered> last_;  // by entry of the layout's levels
  std::vector<std::vector<std::uint64_t>> positions_;
};

}  // namespace result_layout

using result_layout::ChunkWriter;
using result_layout::RowLayout;

ResultWriter::ResultWriter(const JoinPlan& plan, const RowFormat& format, OutputFile& out)
    : plan_(plan), format_(format), out_(out), layout_(std::make_unique<RowLayout>(plan, format)) {}

ResultWriter::~ResultWriter() = default;

void ResultWriter::writeStart() {
  out_.writer().write(format_.tableStart(plan_.name, plan_.columns));
}

const std::vector<LevelPositions>& ResultWriter::wanted() const {
  return layout_->wanted();
}

bool ResultWriter::takePart(std::size_t part, const PartRows& rows) {
  OutputPart output(out_.writer(), part);
  ChunkWriter writer(*layout_, output);
  return rows([&writer](const JoinedChunk& chunk) { return writer.write(chunk); });
}
