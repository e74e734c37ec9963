#include "tables/table.h"

#include <cassert>

std::uint64_t RowList::encode(std::string_view cell) {
  const auto address = reinterpret_cast<std::uintptr_t>(cell.data());
  if (!anchored_) {
    anchor_ = address;
    anchored_ = true;
  }
  if (address >= anchor_ && address - anchor_ < kMaxDistance && cell.size() < kLengthMask) {
    return (static_cast<std::uint64_t>(address - anchor_) << kLengthBits) | cell.size();
  }
  spilled_.push_back(cell);
  return (static_cast<std::uint64_t>(spilled_.size() - 1) << kLengthBits) | kLengthMask;
}

void RowList::push_back(Cells row) {
  assert(row.size() == width_);
  for (std::string_view cell : row) {
    cells_.push_back(encode(cell));
  }
  ++count_;
}

void RowList::append(const RowList& other) {
  assert(other.width_ == width_);
  if (anchored_ && other.anchored_ && other.anchor_ == anchor_ && other.spilled_.empty()) {
    cells_.append(other.cells_.data(), other.cells_.size());
    count_ += other.count_;
    return;
  }
  for (Row row : other) {
    std::vector<std::string_view> cells(row.begin(), row.end());
    push_back(cells);
  }
}

std::uint64_t* RowList::placeFor(std::size_t rows) {
  std::uint64_t* const at = cells_.extendInPlace(rows * width_);
  if (at != nullptr) {
    count_ += rows;
  }
  return at;
}

Table makeTable(std::string name, std::vector<std::string> columns) {
  Table table;
  table.name = std::move(name);
  table.rows = RowList(columns.size());
  table.columns = std::move(columns);
  return table;
}
