// The table model every stage works on.
//
// Cells are views: they point into text owned elsewhere (the captured input file, for
// the tables of a run), so a table is cheap to copy and must not outlive that text.
// Rows of one table are stored back to back in a single array of cells.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// One row: cell i belongs to column i.
using Row = std::span<const std::string_view>;

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

  std::size_t width() const { return width_; }
  std::size_t size() const { return count_; }
  bool empty() const { return count_ == 0; }

  Row operator[](std::size_t i) const { return Row(cells_.data() + i * width_, width_); }
  Iterator begin() const { return Iterator(this, 0); }
  Iterator end() const { return Iterator(this, count_); }

  // Appends a row; it must hold exactly width() cells.
  void push_back(Row row);
  void reserve(std::size_t rowCount) { cells_.reserve(rowCount * width_); }

 private:
  std::size_t width_ = 0;
  std::size_t count_ = 0;
  std::vector<std::string_view> cells_;
};

struct Table {
  std::string name;
  std::vector<std::string> columns;  // full column descriptors such as "id int"
  RowList rows;                      // every row has one cell per column
};

// A table with the given columns and no rows yet.
Table makeTable(std::string name, std::vector<std::string> columns);
