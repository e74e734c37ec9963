#include "join/row_index.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <random>

namespace {

std::uint64_t randomSeed() {
  std::random_device source;
  return (static_cast<std::uint64_t>(source()) << 32) ^ source();
}

const std::uint64_t kSeed = randomSeed();

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
  std::uint64_t state = kSeed ^ kMultiplier ^ bytes.size();
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
  slots_.assign(slotCount, Slot{0, kFree, 0, 0});

  // First pass: find every row's group, creating groups as new keys appear. Rows are
  // looked up just as a join probes, with their index entries fetched ahead.
  std::vector<std::uint32_t> slotOfRow(rowCount);
  std::vector<std::string_view> key;
  ProbeRing hashes;
  probeInOrder(
      rowCount, hashes,
      [this, &key](std::size_t row) {
        gatherKey(static_cast<std::uint32_t>(row), key);
        return hashKey(key);
      },
      [this, &key, &slotOfRow](std::size_t row, std::uint64_t hash) {
        gatherKey(static_cast<std::uint32_t>(row), key);
        const std::size_t slot = slotOf(key, hash);
        Slot& group = slots_[slot];
        if (group.firstRow == kFree) {
          group = Slot{tagOf(hash), static_cast<std::uint32_t>(row), 0, 0};
          ++groups_;
        }
        ++group.count;
        slotOfRow[row] = static_cast<std::uint32_t>(slot);
        return true;
      });
  // Second pass: lay the rows out group by group, each group in table order.
  std::uint32_t offset = 0;
  for (Slot& group : slots_) {
    group.offset = offset;
    offset += group.count;
    group.count = 0;
  }
  rowsByGroup_.resize(rowCount);
  for (std::uint32_t row = 0; row < rowCount; ++row) {
    Slot& group = slots_[slotOfRow[row]];
    rowsByGroup_[group.offset + group.count++] = row;
  }
}

std::size_t RowIndex::slotOf(Cells key, std::uint64_t hash) const {
  const std::uint32_t tag = tagOf(hash);
  for (std::size_t slot = hash & slotMask_;; slot = (slot + 1) & slotMask_) {
    const Slot& candidate = slots_[slot];
    if (candidate.firstRow == kFree ||
        (candidate.tag == tag && rowHasKey(candidate.firstRow, key))) {
      return slot;
    }
  }
}

std::span<const std::uint32_t> RowIndex::find(Cells key, std::uint64_t hash) const {
  const Slot& group = slots_[slotOf(key, hash)];
  return std::span<const std::uint32_t>(rowsByGroup_.data() + group.offset, group.count);
}

const RowIndex::Slot* RowIndex::likelySlot(std::uint64_t hash) const {
  const Slot& slot = slots_[hash & slotMask_];
  if (slot.firstRow == kFree || slot.tag != tagOf(hash)) {
    return nullptr;
  }
  return &slot;
}

void RowIndex::prefetchFirstRow(std::uint64_t hash) const {
  if (const Slot* group = likelySlot(hash)) {
    __builtin_prefetch(table_->rows[group->firstRow].storage());
    __builtin_prefetch(rowsByGroup_.data() + group->offset);
  }
}

void RowIndex::prefetchKeyText(std::uint64_t hash) const {
  const Slot* group = likelySlot(hash);
  if (group != nullptr && !keyColumns_.empty()) {
    // The key's line and the one after it: the rest of the row's cells, which a
    // join writes next, mostly stand there too.
    const char* text = table_->rows[group->firstRow][keyColumns_.front()].data();
    __builtin_prefetch(text);
    __builtin_prefetch(text + 64);
  }
}

void RowIndex::gatherKey(std::uint32_t row, std::vector<std::string_view>& key) const {
  const Row cells = table_->rows[row];
  key.clear();
  for (std::size_t column : keyColumns_) {
    key.push_back(cells[column]);
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
