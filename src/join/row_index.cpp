#include "join/row_index.h"

#include <bit>
#include <cstring>

namespace {

constexpr std::uint64_t kMultiplier = 0x9E3779B97F4A7C15ULL;

std::uint64_t mix(std::uint64_t value) {
  value ^= value >> 32;
  value *= 0xD6E8FEB86659FD93ULL;
  value ^= value >> 32;
  return value;
}

std::uint64_t absorb(std::uint64_t state, std::uint64_t word) {
  state = (state ^ word) * kMultiplier;
  return state ^ (state >> 29);
}

std::uint64_t combine(std::uint64_t state, std::uint64_t cellHash) {
  return absorb(state + 0x632BE59BD9B4E019ULL, cellHash);
}

}  // namespace

std::uint64_t hashBytes(std::string_view bytes) {
  std::uint64_t state = kMultiplier ^ bytes.size();
  const char* position = bytes.data();
  std::size_t remaining = bytes.size();
  while (remaining >= 8) {
    std::uint64_t word;
    std::memcpy(&word, position, 8);
    state = absorb(state, word);
    position += 8;
    remaining -= 8;
  }
  if (remaining > 0) {
    std::uint64_t word = 0;
    std::memcpy(&word, position, remaining);
    state = absorb(state, word);
  }
  return mix(state);
}

std::uint64_t RowIndex::hashKey(std::span<const std::string_view> key) {
  std::uint64_t hash = 0;
  for (std::string_view cell : key) {
    hash = combine(hash, hashBytes(cell));
  }
  return hash;
}

RowIndex::RowIndex(const Table& table, std::vector<std::size_t> keyColumns)
    : table_(&table), keyColumns_(std::move(keyColumns)) {
  const std::size_t rowCount = table.rows.size();
  const std::size_t slotCount = std::bit_ceil(std::max<std::size_t>(16, rowCount * 2));
  slotMask_ = slotCount - 1;
  slots_.assign(slotCount, 0);

  // First pass: give every row the number of its group, creating groups as new keys
  // appear; the second pass lays the rows out group by group, each in table order.
  std::vector<std::uint32_t> groupOfRow(rowCount);
  std::vector<std::string_view> key(keyColumns_.size());
  for (std::uint32_t row = 0; row < rowCount; ++row) {
    const Row cells = table.rows[row];
    for (std::size_t i = 0; i < keyColumns_.size(); ++i) {
      key[i] = cells[keyColumns_[i]];
    }
    const std::uint64_t hash = hashKey(key);
    std::size_t slot = hash & slotMask_;
    for (;;) {
      const std::uint32_t entry = slots_[slot];
      if (entry == 0) {
        slots_[slot] = static_cast<std::uint32_t>(groups_.size() + 1);
        groupOfRow[row] = static_cast<std::uint32_t>(groups_.size());
        groups_.push_back(Group{hash, row, 0, 1});
        break;
      }
      Group& group = groups_[entry - 1];
      if (group.hash == hash && rowHasKey(group.firstRow, key)) {
        groupOfRow[row] = entry - 1;
        ++group.count;
        break;
      }
      slot = (slot + 1) & slotMask_;
    }
  }
  std::uint32_t offset = 0;
  for (Group& group : groups_) {
    group.offset = offset;
    offset += group.count;
    group.count = 0;
  }
  rowsByGroup_.resize(rowCount);
  for (std::uint32_t row = 0; row < rowCount; ++row) {
    Group& group = groups_[groupOfRow[row]];
    rowsByGroup_[group.offset + group.count++] = row;
  }
}

std::span<const std::uint32_t> RowIndex::find(std::span<const std::string_view> key) const {
  const std::uint64_t hash = hashKey(key);
  std::size_t slot = hash & slotMask_;
  for (;;) {
    const std::uint32_t entry = slots_[slot];
    if (entry == 0) {
      return {};
    }
    const Group& group = groups_[entry - 1];
    if (group.hash == hash && rowHasKey(group.firstRow, key)) {
      return std::span<const std::uint32_t>(rowsByGroup_.data() + group.offset, group.count);
    }
    slot = (slot + 1) & slotMask_;
  }
}

bool RowIndex::rowHasKey(std::uint32_t row, std::span<const std::string_view> key) const {
  const Row cells = table_->rows[row];
  for (std::size_t i = 0; i < keyColumns_.size(); ++i) {
    if (cells[keyColumns_[i]] != key[i]) {
      return false;
    }
  }
  return true;
}
