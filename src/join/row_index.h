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

  static std::uint64_t hashKey(Cells key);

  // Positions of the rows whose key cells equal key, in table order; hash is
  // hashKey(key).
  std::span<const std::uint32_t> find(Cells key, std::uint64_t hash) const;
  std::span<const std::uint32_t> find(Cells key) const { return find(key, hashKey(key)); }

  // A probe touches the slot, the group, the group's first row and that row's key
  // text, each found through the one before. A caller that knows its next probes
  // asks for them in this order, a few probes apart, so that each step finds its
  // memory already in the cache. They change nothing and may be skipped.
  void prefetchSlot(std::uint64_t hash) const { __builtin_prefetch(&slots_[hash & slotMask_]); }
  void prefetchGroup(std::uint64_t hash) const;
  void prefetchFirstRow(std::uint64_t hash) const;
  void prefetchKeyText(std::uint64_t hash) const;

 private:
  struct Group {
    std::uint32_t firstRow;
    std::uint32_t offset;  // into rowsByGroup
    std::uint32_t count;
  };

  // Slots hold the upper half of the key's hash and the group number + 1 (0: free).
  static std::uint64_t slotFor(std::uint64_t hash, std::size_t group) {
    return (hash & 0xFFFFFFFF00000000ULL) | (group + 1);
  }
  static bool slotMatches(std::uint64_t slot, std::uint64_t hash) {
    return ((slot ^ hash) & 0xFFFFFFFF00000000ULL) == 0;
  }
  // The group in the key's first-choice slot, if its hash agrees; for prefetching.
  const Group* likelyGroup(std::uint64_t hash) const;
  bool rowHasKey(std::uint32_t row, Cells key) const;

  const Table* table_;
  std::vector<std::size_t> keyColumns_;
  std::size_t slotMask_ = 0;
  std::vector<std::uint64_t> slots_;
  std::vector<Group> groups_;
  std::vector<std::uint32_t> rowsByGroup_;  // row positions, grouped, in table order
};
