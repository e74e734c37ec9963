#include "join/row_index.h"

#include "text/memory.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <random>
#include <utility>

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

std::uint64_t hashOfShortWord(std::uint64_t word) {
  return mix(absorb(kSeed ^ kMultiplier, word));
}

constexpr std::size_t kLongestShortKey = 7;
// Slots are kept at most this full (in tenths), so that a probe stays short.
constexpr std::size_t kMostLoad = 8;

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

RowIndex::Probe RowIndex::probeFor(Cells key) {
  if (key.size() == 1 && key[0].size() <= kLongestShortKey) {
    // The length is kept above the bytes, one more than it is, so that no key's
    // word is 0 (a free slot) and none has the top bit of hashed words.
    std::uint64_t word = 0;
    std::memcpy(&word, key[0].data(), key[0].size());
    word |= static_cast<std::uint64_t>(key[0].size() + 1) << 56;
    return Probe{hashOfShortWord(word), word};
  }
  std::uint64_t hash = 0;
  for (std::string_view cell : key) {
    hash = combine(hash, hashBytes(cell));
  }
  hash = mix(hash);
  return Probe{hash, hash | kHashedWord};
}

RowIndex::RowIndex(const Table& table, std::vector<std::size_t> keyColumns)
    : table_(&table), keyColumns_(std::move(keyColumns)) {
  const std::size_t rowCount = table.rows.size();
  // Sized for a quarter of the rows to have keys of their own and grown as more
  // do, so that the slots follow the number of distinct keys, not of rows.
  resize(std::bit_ceil(std::max<std::size_t>(16, rowCount / 4)));
  std::vector<std::string_view> key;
  ProbeRing probes;
  const auto probeOfRow = [this, &key](std::size_t row) {
    gatherKey(static_cast<std::uint32_t>(row), key);
    return probeFor(key);
  };
  // First pass: find every row's group, creating groups as new keys appear.
  probeInOrder(rowCount, probes, probeOfRow, [this, &key](std::size_t row, Probe probe) {
    gatherKey(static_cast<std::uint32_t>(row), key);
    std::size_t slot = slotOf(key, probe);
    if (slots_[slot].word == kFree) {
      if ((groups_ + 1) * 10 > slots_.size() * kMostLoad) {
        resize(2 * slots_.size());
        slot = slotOf(key, probe);
      }
      slots_[slot] = Slot{probe.word, static_cast<std::uint32_t>(groups_), 0};
      firstRows_.push_back(static_cast<std::uint32_t>(row));
      ++groups_;
    }
    ++slots_[slot].count;
    return true;
  });
  // Second pass: lay the rows out group by group, in the order the groups appeared,
  // each group in table order.
  std::vector<std::uint32_t> nextPlace(groups_);
  for (const Slot& slot : slots_) {
    if (slot.word != kFree) {
      nextPlace[slot.first] = slot.count;
    }
  }
  std::uint32_t offset = 0;
  for (std::uint32_t& place : nextPlace) {
    offset += std::exchange(place, offset);
  }
  rowsByGroup_.reserve(rowCount);
  adviseLargePages(rowsByGroup_.data(), rowCount * sizeof(std::uint32_t));
  rowsByGroup_.resize(rowCount);
  probeInOrder(rowCount, probes, probeOfRow, [&](std::size_t row, Probe probe) {
    gatherKey(static_cast<std::uint32_t>(row), key);
    const Slot& group = slots_[slotOf(key, probe)];
    rowsByGroup_[nextPlace[group.first]++] = static_cast<std::uint32_t>(row);
    return true;
  });
  for (Slot& slot : slots_) {
    if (slot.word != kFree) {
      slot.first = nextPlace[slot.first] - slot.count;
    }
  }
  building_ = false;
  firstRows_ = std::vector<std::uint32_t>();
}

void RowIndex::resize(std::size_t slotCount) {
  std::vector<Slot> old = std::exchange(slots_, std::vector<Slot>());
  slots_.reserve(slotCount);
  adviseLargePages(slots_.data(), slotCount * sizeof(Slot));
  slots_.resize(slotCount, Slot{kFree, 0, 0});
  slotMask_ = slotCount - 1;
  for (const Slot& slot : old) {
    if (slot.word == kFree) {
      continue;
    }
    const std::uint64_t hash = slot.word >= kHashedWord ? slot.word : hashOfShortWord(slot.word);
    std::size_t at = hash & slotMask_;
    while (slots_[at].word != kFree) {
      at = (at + 1) & slotMask_;
    }
    slots_[at] = slot;
  }
}

std::size_t RowIndex::slotOf(Cells key, Probe probe) const {
  for (std::size_t slot = probe.hash & slotMask_;; slot = (slot + 1) & slotMask_) {
    const Slot& candidate = slots_[slot];
    if (candidate.word == kFree) {
      return slot;
    }
    if (candidate.word == probe.word &&
        (probe.word < kHashedWord || rowHasKey(firstRowOf(candidate), key))) {
      return slot;
    }
  }
}

std::span<const std::uint32_t> RowIndex::find(Cells key, Probe probe) const {
  const Slot& group = slots_[slotOf(key, probe)];
  if (group.word == kFree) {
    return {};
  }
  return std::span<const std::uint32_t>(rowsByGroup_.data() + group.first, group.count);
}

const RowIndex::Slot* RowIndex::likelySlot(Probe probe) const {
  const Slot& slot = slots_[probe.hash & slotMask_];
  if (slot.word != probe.word) {
    return nullptr;
  }
  return &slot;
}

void RowIndex::prefetchGroup(Probe probe) const {
  const Slot* group = likelySlot(probe);
  if (group == nullptr) {
    return;
  }
  if (!building_) {
    __builtin_prefetch(rowsByGroup_.data() + group->first);
  }
  if (probe.word >= kHashedWord) {
    __builtin_prefetch(table_->rows[firstRowOf(*group)].storage());
  }
}

void RowIndex::prefetchKeyText(Probe probe) const {
  const Slot* group = likelySlot(probe);
  if (group != nullptr && probe.word >= kHashedWord && !keyColumns_.empty()) {
    const char* text = table_->rows[firstRowOf(*group)][keyColumns_.front()].data();
    __builtin_prefetch(text);
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
