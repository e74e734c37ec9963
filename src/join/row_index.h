// An index from the cells of some key columns of a table to the rows holding them,
// so that a join finds the matching rows of its right table without scanning it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "tables/table.h"

// A fast, well-mixed hash of a byte string.
std::uint64_t hashBytes(std::string_view bytes);

class RowIndex {
 public:
  // Indexes every row of table by its cells in keyColumns (in that order). With no
  // key column all rows share the one empty key. Tables are limited to 2^32 - 1 rows.
  RowIndex(const Table& table, std::vector<std::size_t> keyColumns);

  // Positions of the rows whose key cells equal key, in table order.
  std::span<const std::uint32_t> find(std::span<const std::string_view> key) const;

 private:
  struct Group {
    std::uint64_t hash;
    std::uint32_t firstRow;
    std::uint32_t offset;  // into rowsByGroup
    std::uint32_t count;
  };

  static std::uint64_t hashKey(std::span<const std::string_view> key);
  bool rowHasKey(std::uint32_t row, std::span<const std::string_view> key) const;

  const Table* table_;
  std::vector<std::size_t> keyColumns_;
  std::size_t slotMask_ = 0;
  std::vector<std::uint32_t> slots_;  // group number + 1; 0 is free
  std::vector<Group> groups_;
  std::vector<std::uint32_t> rowsByGroup_;  // row positions, grouped, in table order
};
