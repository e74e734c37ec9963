// The table model every stage works on.
//
// Cells are views: they point into text owned elsewhere (the captured input file, for
// the tables of a run), so a table is cheap to copy and must not outlive that text.
// A table of millions of rows holds far more cells than bytes of other data, so the
// rows keep their cells back to back, eight bytes each: the cell's distance from the
// first cell the table received and its length. The rare cell that does not fit that
// form (over 16 MiB, or lying before that first cell) is kept aside as a plain view.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tables/cell_array.h"

// Row positions are 32-bit throughout the join, one value kept for "none".
constexpr std::size_t kMaxTableRows = 0xFFFFFFFE;

// Cells side by side, as a join assembles them.
using Cells = std::span<const std::string_view>;

class RowList;

// One row of a table: cell i belongs to column i.
class Row {
 public:
  class Iterator {
   public:
    using iterator_category = std::input_iterator_tag;
    using value_type = std::string_view;
    using difference_type = std::ptrdiff_t;
    using pointer = void;
    using reference = std::string_view;

    Iterator(const Row* row, std::size_t position) : row_(row), position_(position) {}
    std::string_view operator*() const { return (*row_)[position_]; }
    Iterator& operator++() {
      ++position_;
      return *this;
    }
    Iterator operator++(int) {
      Iterator before = *this;
      ++position_;
      return before;
    }
    bool operator==(const Iterator& other) const { return position_ == other.position_; }

   private:
    const Row* row_;
    std::size_t position_;
  };

  Row(const RowList* rows, const std::uint64_t* cells, std::size_t width)
      : rows_(rows), cells_(cells), width_(width) {}

  std::size_t size() const { return width_; }
  std::string_view operator[](std::size_t i) const;
  Iterator begin() const { return Iterator(this, 0); }
  Iterator end() const { return Iterator(this, width_); }
  // Where this row's cells are stored; close in memory to the cells of neighbours.
  const void* storage() const { return cells_; }

 private:
  const RowList* rows_;
  const std::uint64_t* cells_;
  std::size_t width_;
};

// The rows of a table, all of the same width.
class RowList {
 public:
  class Iterator {
   public:
    Iterator(const RowList* rows, std::size_t position) : rows_(rows), position_(position) {}
    Row operator*() const { return (*rows_)[position_]; }
    Iterator& operator++() {
      ++position_;
      return *this;
    }
    bool operator==(const Iterator& other) const { return position_ == other.position_; }

   private:
    const RowList* rows_;
    std::size_t position_;
  };

  RowList() = default;
  explicit RowList(std::size_t width) : width_(width) {}
  // Cells are then counted from anchor, which must not lie after any of them; lists
  // with the same anchor are appended to each other by copying their cells whole.
  RowList(std::size_t width, const char* anchor)
      : width_(width), anchor_(reinterpret_cast<std::uintptr_t>(anchor)), anchored_(true) {}

  std::size_t size() const { return count_; }
  bool empty() const { return count_ == 0; }
  std::size_t width() const { return width_; }

  Row operator[](std::size_t i) const { return Row(this, cells_.data() + i * width_, width_); }
  Iterator begin() const { return Iterator(this, 0); }
  Iterator end() const { return Iterator(this, count_); }

  // Appends a row; it must hold one cell per column.
  void push_back(Cells row);
  // Appends the rows of other, which has the same width.
  void append(const RowList& other);
  // Forgets every row and keeps the memory, for lists filled again and again.
  void clear() {
    count_ = 0;
    cells_.clear();
    spilled_.clear();
  }
  // Counts rows more rows in and returns where their cells go, for the caller to
  // store them there (with tryStore, or store) before any is read; null when no
  // room is reserved for them.
  std::uint64_t* placeFor(std::size_t rows);
  // Stores cell at a place placeFor gave, from any thread; false when the cell
  // must be kept aside, which only store does.
  bool tryStore(std::uint64_t* at, std::string_view cell) const {
    const auto address = reinterpret_cast<std::uintptr_t>(cell.data());
    if (!anchored_ || address < anchor_ || address - anchor_ >= kMaxDistance ||
        cell.size() >= kLengthMask) {
      return false;
    }
    *at = (static_cast<std::uint64_t>(address - anchor_) << kLengthBits) | cell.size();
    return true;
  }
  // The same, on one thread at a time, for any cell.
  void store(std::uint64_t* at, std::string_view cell) { *at = encode(cell); }
  const std::uint64_t* cellData() const { return cells_.data(); }
  void reserve(std::size_t rows) { cells_.reserve(rows * width_); }

  std::string_view decode(std::uint64_t cell) const {
    const std::uint64_t length = cell & kLengthMask;
    if (length == kLengthMask) {
      return spilled_[cell >> kLengthBits];
    }
    return std::string_view(reinterpret_cast<const char*>(anchor_ + (cell >> kLengthBits)),
                            static_cast<std::size_t>(length));
  }

 private:
  static constexpr unsigned kLengthBits = 24;
  static constexpr std::uint64_t kLengthMask = (std::uint64_t{1} << kLengthBits) - 1;
  static constexpr std::uint64_t kMaxDistance = std::uint64_t{1} << (64 - kLengthBits);

  std::uint64_t encode(std::string_view cell);

  std::size_t width_ = 0;
  std::size_t count_ = 0;
  std::uintptr_t anchor_ = 0;
  bool anchored_ = false;
  CellArray cells_;
  std::vector<std::string_view> spilled_;
};

inline std::string_view Row::operator[](std::size_t i) const {
  return rows_->decode(cells_[i]);
}

struct Table {
  std::string name;
  std::vector<std::string> columns;  // full column descriptors such as "id int"
  RowList rows;                      // every row has one cell per column
  // A table can be read once and then left in the text, its rows parsed again
  // where they are wanted, so that the largest table of a run need not be held:
  // its data lines, one row each, and their number. rows then stays empty.
  bool rowsLeftInText = false;
  std::string_view rowLines;
  std::size_t rowsInText = 0;
};

// The rows of table, kept or left in the text.
inline std::size_t rowCount(const Table& table) {
  return table.rowsLeftInText ? table.rowsInText : table.rows.size();
}

// A table with the given columns and no rows yet.
Table makeTable(std::string name, std::vector<std::string> columns);
