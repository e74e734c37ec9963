#include "join/row_index.h"

#include <algorithm>
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

std::uint64_t RowIndex::hashKey(Cells key) {
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
    for (std::size_t slot = hash & slotMask_;; slot = (slot + 1) & slotMask_) {
      const std::uint64_t entry = slots_[slot];
      if (entry == 0) {
        slots_[slot] = slotFor(hash, groups_.size());
        groupOfRow[row] = static_cast<std::uint32_t>(groups_.size());
        groups_.push_back(Group{row, 0, 1});
        break;
      }
      const std::uint32_t group = static_cast<std::uint32_t>(entry) - 1;
      if (slotMatches(entry, hash) && rowHasKey(groups_[group].firstRow, key)) {
        groupOfRow[row] = group;
        ++groups_[group].count;
        break;
      }
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

std::span<const std::uint32_t> RowIndex::find(Cells key, std::uint64_t hash) const {
  for (std::size_t slot = hash & slotMask_;; slot = (slot + 1) & slotMask_) {
    const std::uint64_t entry = slots_[slot];
    if (entry == 0) {
      return {};
    }
    const Group& group = groups_[static_cast<std::uint32_t>(entry) - 1];
    if (slotMatches(entry, hash) && rowHasKey(group.firstRow, key)) {
      return std::span<const std::uint32_t>(rowsByGroup_.data() + group.offset, group.count);
    }
  }
}

const RowIndex::Group* RowIndex::likelyGroup(std::uint64_t hash) const {
  const std::uint64_t entry = slots_[hash & slotMask_];
  if (entry == 0 || !slotMatches(entry, hash)) {
    return nullptr;
  }
  return &groups_[static_cast<std::uint32_t>(entry) - 1];
}

void RowIndex::prefetchGroup(std::uint64_t hash) const {
  const std::uint64_t entry = slots_[hash & slotMask_];
  if (entry != 0) {
    __builtin_prefetch(&groups_[static_cast<std::uint32_t>(entry) - 1]);
  }
}

void RowIndex::prefetchFirstRow(std::uint64_t hash) const {
  if (const Group* group = likelyGroup(hash)) {
    __builtin_prefetch(table_->rows[group->firstRow].storage());
    __builtin_prefetch(&rowsByGroup_[group->offset]);
  }
}

void RowIndex::prefetchKeyText(std::uint64_t hash) const {
  const Group* group = likelyGroup(hash);
  if (group != nullptr && !keyColumns_.empty()) {
    __builtin_prefetch(table_->rows[group->firstRow][keyColumns_.front()].data());
  }
}

bool RowIndex::rowHasKey(std::uint32_t row, Cells key) const {
  const Row cells = table_->rows[row];
  for (std::size_t i = 0; i < keyColumns_.size(); ++i) {
    if (cells[keyColumns_[i]] != key[i]) {
      return false;
    }
  }
  return true;
}
