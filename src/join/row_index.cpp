#include "join/row_index.h"

#include "threads/threads.h"

#include <algorithm>
#include <atomic>
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

// The count (below 8) bytes at bytes as a little-endian number, without a call:
// overlapping loads cover every length.
std::uint64_t loadShort(const char* bytes, std::size_t count) {
  if (count >= 4) {
    std::uint32_t low;
    std::uint32_t high;
    std::memcpy(&low, bytes, 4);
    std::memcpy(&high, bytes + count - 4, 4);
    return low | (static_cast<std::uint64_t>(high) << (8 * (count - 4)));
  }
  if (count == 0) {
    return 0;
  }
  const auto byte = [bytes](std::size_t i) {
    return static_cast<std::uint64_t>(static_cast<unsigned char>(bytes[i]));
  };
  return byte(0) | (byte(count / 2) << (8 * (count / 2))) | (byte(count - 1) << (8 * (count - 1)));
}

std::uint64_t hashOfShortWord(std::uint64_t word) {
  return mix(absorb(kSeed ^ kMultiplier, word));
}

constexpr std::size_t kLongestShortKey = 7;
// Slots are kept at most this full (in tenths), so that a probe stays short.
constexpr std::size_t kMostLoad = 8;
constexpr std::size_t kFewestRowsForRegions = std::size_t{1} << 16;
constexpr std::size_t kBatchRows = 256;
// How far ahead of the row whose record is written its cells, and then the text
// they point to, are fetched: rows are met group by group, in no order of the
// table's.
constexpr std::size_t kRecordCellsAhead = 16;
constexpr std::size_t kRecordTextAhead = 8;

std::size_t lengthBytes(std::uint64_t length) {
  std::size_t bytes = 1;
  for (; length >= 0x80; length >>= 7) {
    ++bytes;
  }
  return bytes;
}

char* writeLength(char* to, std::uint64_t length) {
  for (; length >= 0x80; length >>= 7) {
    *to++ = static_cast<char>((length & 0x7F) | 0x80);
  }
  *to++ = static_cast<char>(length);
  return to;
}

char* writeBytes(char* to, std::string_view bytes) {
  if (!bytes.empty()) {
    std::memcpy(to, bytes.data(), bytes.size());
  }
  return to + bytes.size();
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
    state = absorb(state, loadShort(position, remaining));
  }
  return mix(state);
}

RowIndex::Probe RowIndex::probeFor(Cells key) const {
  if (key.size() == 1 && key[0].size() <= kLongestShortKey) {
    // The length is kept above the bytes, one more than it is, so that no key's
    // word is 0 (a free slot) and none has the top bit of hashed words.
    std::uint64_t word = loadShort(key[0].data(), key[0].size());
    word |= static_cast<std::uint64_t>(key[0].size() + 1) << 56;
    return Probe{hashOfShortWord(word), word};
  }
  std::uint64_t hash = 0;
  for (std::string_view cell : key) {
    hash = combine(hash, cellHash_(cell));
  }
  hash = mix(hash);
  return Probe{hash, hash | kHashedWord};
}

RowIndex::RowIndex(const Table& table, std::vector<std::size_t> keyColumns, unsigned threads,
                   CellHash cellHash, CellFormat format)
    : table_(&table), keyColumns_(std::move(keyColumns)), cellHash_(cellHash), format_(format) {
  for (std::size_t column = 0; column < table.columns.size(); ++column) {
    if (std::find(keyColumns_.begin(), keyColumns_.end(), column) == keyColumns_.end()) {
      otherColumns_.push_back(column);
    }
  }
  const std::size_t rowCount = table.rows.size();
  // Regions only pay for themselves on tables that take a while.
  const std::size_t regionCount =
      rowCount < kFewestRowsForRegions ? 1 : std::bit_ceil(std::max(threads, 1u));
  regionMask_ = regionCount - 1;
  regionShift_ = regionCount == 1 ? 63 : 64 - static_cast<unsigned>(std::countr_zero(regionCount));
  // A row's region rides in the top bits of its group number while there is room.
  regionBits_ = static_cast<unsigned>(std::countr_zero(regionCount));
  taggedGroups_ = regionCount == 1 || rowCount < (std::size_t{1} << (32 - regionBits_));
  if (!build(Grouping::kByWord)) {
    build(Grouping::kByKey);
  }
  building_ = false;
}

bool RowIndex::build(Grouping grouping) {
  grouping_ = grouping;
  regions_ = std::vector<Region>(regionMask_ + 1);
  groups_ = 0;
  const std::size_t rowCount = table_->rows.size();
  const auto regionCount = static_cast<unsigned>(regions_.size());
  std::vector<std::uint32_t> groupOfRow(rowCount);
  runOnThreads(regionCount,
               [this, &groupOfRow](unsigned region) { groupRows(region, groupOfRow); });
  std::vector<std::uint32_t> bases;
  std::vector<std::uint64_t> places;
  std::uint32_t base = 0;
  std::uint64_t place = 0;
  for (const Region& region : regions_) {
    bases.push_back(base);
    places.push_back(place);
    base += static_cast<std::uint32_t>(region.rows);
    place += region.recordBytes;
    groups_ += region.groups;
  }
  rowsByGroup_.resize(rowCount);
  runOnThreads(regionCount, [&](unsigned region) { placeRows(region, bases[region], groupOfRow); });
  groupOfRow = std::vector<std::uint32_t>();
  for (Region& region : regions_) {
    region.firstRows = std::vector<std::uint32_t>();
  }
  // Not cleared: every byte is written before it is read.
  records_.reset(new char[std::max<std::uint64_t>(place, 1)]);
  std::atomic<bool> keysDiffer{false};
  runOnThreads(regionCount, [&](unsigned region) {
    if (!writeRecords(region, bases[region], places[region])) {
      keysDiffer = true;
    }
  });
  return !keysDiffer;
}

void RowIndex::groupRows(std::size_t regionNumber, std::vector<std::uint32_t>& groupOfRow) {
  Region& region = regions_[regionNumber];
  const std::size_t rowCount = table_->rows.size();
  // Grown as keys are found, so that the slots follow the number of distinct keys,
  // not of rows.
  resize(region, 16);
  std::vector<std::string_view> key;
  // This region's rows are gathered a batch at a time and then looked up with
  // their slots fetched ahead; no other region's memory is touched, as other
  // threads are building those.
  std::vector<std::pair<std::uint32_t, Probe>> batch;
  ProbeRing probes;
  const auto insertBatch = [&] {
    probeInOrder(
        batch.size(), probes, false, [&batch](std::size_t i) { return batch[i].second; },
        [&](std::size_t i, Probe probe) {
          const std::uint32_t row = batch[i].first;
          if (grouping_ == Grouping::kByKey) {
            gatherKey(row, key);
          }
          std::size_t slot = slotOf(region, key, probe);
          if (region.slots[slot].word == kFree) {
            if ((region.groups + 1) * 10 > region.slots.size() * kMostLoad) {
              resize(region, 2 * region.slots.size());
              slot = slotOf(region, key, probe);
            }
            region.slots[slot] = Slot{probe.word, region.groups};
            region.firstRows.push_back(row);
            region.hashedWords = region.hashedWords || probe.word >= kHashedWord;
            region.recordBytes += kMostHeadBytes + (probe.word >= kHashedWord ? keyBytes(row) : 0);
            ++region.groups;
          }
          region.slots[slot].data += std::uint64_t{1} << 32;
          region.recordBytes += renderingBytes(row);
          ++region.rows;
          groupOfRow[row] = groupOf(region.slots[slot]) | regionTag(regionNumber);
          return true;
        });
    batch.clear();
  };
  for (std::size_t row = 0; row < rowCount; ++row) {
    gatherKey(static_cast<std::uint32_t>(row), key);
    const Probe probe = probeFor(key);
    if (&regionOf(probe) != &region) {
      continue;
    }
    batch.emplace_back(static_cast<std::uint32_t>(row), probe);
    if (batch.size() == kBatchRows) {
      insertBatch();
    }
  }
  insertBatch();
}

void RowIndex::placeRows(std::size_t regionNumber, std::uint32_t base,
                         const std::vector<std::uint32_t>& groupOfRow) {
  Region& region = regions_[regionNumber];
  // Of each of the region's groups, in the order they appeared, where its next row
  // goes; each group is filled in table order, and its last place is its end.
  std::vector<std::uint64_t>& nextPlace = region.groupEnds;
  nextPlace.assign(region.groups, 0);
  for (const Slot& slot : region.slots) {
    if (slot.word != kFree) {
      nextPlace[groupOf(slot)] = countOf(slot);
    }
  }
  std::uint64_t offset = base;
  for (std::uint64_t& place : nextPlace) {
    offset += std::exchange(place, offset);
  }
  const std::size_t rowCount = table_->rows.size();
  const std::uint32_t tag = regionTag(regionNumber);
  const std::uint32_t groupMask = ~regionTag(regions_.size() - 1);
  std::vector<std::string_view> key;
  // The groups of rows ahead, and then where their rows go, are fetched in
  // advance: both are met in no order.
  constexpr std::size_t kPlacesAhead = 32;
  constexpr std::size_t kTargetsAhead = 8;
  const auto isOwn = [&](std::uint32_t group) { return (group & ~groupMask) == tag; };
  for (std::size_t row = 0; row < rowCount; ++row) {
    if (taggedGroups_ && row + kPlacesAhead < rowCount) {
      const std::uint32_t ahead = groupOfRow[row + kPlacesAhead];
      if (isOwn(ahead)) {
        __builtin_prefetch(&nextPlace[ahead & groupMask]);
      }
    }
    if (taggedGroups_ && row + kTargetsAhead < rowCount) {
      const std::uint32_t ahead = groupOfRow[row + kTargetsAhead];
      if (isOwn(ahead)) {
        __builtin_prefetch(&rowsByGroup_[nextPlace[ahead & groupMask]]);
      }
    }
    const std::uint32_t group = groupOfRow[row];
    if (taggedGroups_ ? !isOwn(group) : !inRegion(row, region, key)) {
      continue;
    }
    rowsByGroup_[nextPlace[group & groupMask]++] = static_cast<std::uint32_t>(row);
  }
}

bool RowIndex::writeRecords(std::size_t regionNumber, std::uint32_t base, std::uint64_t place) {
  Region& region = regions_[regionNumber];
  // Keys that are their own word are equal when their words are; others are
  // compared with their group's first row, unless the grouping already did.
  const bool checkKeys = grouping_ == Grouping::kByWord && region.hashedWords;
  const std::uint32_t end = base + static_cast<std::uint32_t>(region.rows);
  char* to = records_.get() + place;
  std::uint32_t position = base;
  // Each group's end is read once, and its place is then taken by that of the
  // group's record.
  for (std::uint64_t& groupEnd : region.groupEnds) {
    const auto stop = static_cast<std::uint32_t>(groupEnd);
    const std::uint32_t first = rowsByGroup_[position];
    groupEnd = static_cast<std::uint64_t>(to - records_.get());
    to = writeLength(to, stop - position);
    to = writeLength(to, position);
    if (!keyIsItsWord(first)) {
      to = writeKey(to, first);
    }
    for (; position < stop; ++position) {
      if (position + kRecordCellsAhead < end) {
        __builtin_prefetch(table_->rows[rowsByGroup_[position + kRecordCellsAhead]].storage());
      }
      if (position + kRecordTextAhead < end) {
        const Row ahead = table_->rows[rowsByGroup_[position + kRecordTextAhead]];
        if (ahead.size() != 0) {
          __builtin_prefetch(ahead[0].data());
        }
      }
      const std::uint32_t row = rowsByGroup_[position];
      if (checkKeys && row != first && !rowsShareKey(row, first)) {
        return false;
      }
      to = writeRendering(to, row);
    }
  }
  for (Slot& slot : region.slots) {
    if (slot.word != kFree) {
      slot.data = region.groupEnds[groupOf(slot)];
    }
  }
  region.groupEnds = std::vector<std::uint64_t>();
  return true;
}

bool RowIndex::keyIsItsWord(std::uint32_t row) const {
  return keyColumns_.size() == 1 && table_->rows[row][keyColumns_[0]].size() <= kLongestShortKey;
}

std::size_t RowIndex::keyBytes(std::uint32_t row) const {
  const Row cells = table_->rows[row];
  std::size_t bytes = 0;
  for (std::size_t column : keyColumns_) {
    bytes += lengthBytes(cells[column].size()) + cells[column].size();
  }
  return bytes;
}

std::size_t RowIndex::renderingLength(std::uint32_t row) const {
  const Row cells = table_->rows[row];
  std::size_t length = otherColumns_.empty() ? 0 : otherColumns_.size() - 1;
  for (std::size_t column : otherColumns_) {
    length += formattedLength(cells[column], format_);
  }
  return length;
}

std::size_t RowIndex::renderingBytes(std::uint32_t row) const {
  const std::size_t length = renderingLength(row);
  return lengthBytes(length) + length;
}

char* RowIndex::writeKey(char* to, std::uint32_t row) const {
  const Row cells = table_->rows[row];
  for (std::size_t column : keyColumns_) {
    to = writeLength(to, cells[column].size());
    to = writeBytes(to, cells[column]);
  }
  return to;
}

char* RowIndex::writeRendering(char* to, std::uint32_t row) const {
  const Row cells = table_->rows[row];
  to = writeLength(to, renderingLength(row));
  for (std::size_t i = 0; i < otherColumns_.size(); ++i) {
    if (i != 0) {
      *to++ = ',';
    }
    to = writeFormatted(to, cells[otherColumns_[i]], format_);
  }
  return to;
}

std::uint32_t RowIndex::regionTag(std::size_t regionNumber) const {
  if (!taggedGroups_ || regionBits_ == 0) {
    return 0;
  }
  return static_cast<std::uint32_t>(regionNumber) << (32 - regionBits_);
}

bool RowIndex::inRegion(std::size_t row, const Region& region,
                        std::vector<std::string_view>& key) const {
  gatherKey(static_cast<std::uint32_t>(row), key);
  return &regionOf(probeFor(key)) == &region;
}

void RowIndex::resize(Region& region, std::size_t slotCount) {
  std::vector<Slot> old = std::exchange(region.slots, std::vector<Slot>(slotCount, Slot{kFree, 0}));
  region.mask = slotCount - 1;
  for (const Slot& slot : old) {
    if (slot.word == kFree) {
      continue;
    }
    const std::uint64_t hash = slot.word >= kHashedWord ? slot.word : hashOfShortWord(slot.word);
    std::size_t at = hash & region.mask;
    while (region.slots[at].word != kFree) {
      at = (at + 1) & region.mask;
    }
    region.slots[at] = slot;
  }
}

std::size_t RowIndex::slotOf(const Region& region, Cells key, Probe probe) const {
  for (std::size_t slot = probe.hash & region.mask;; slot = (slot + 1) & region.mask) {
    const Slot& candidate = region.slots[slot];
    if (candidate.word == kFree) {
      return slot;
    }
    if (candidate.word != probe.word) {
      continue;
    }
    if (probe.word < kHashedWord) {
      return slot;
    }
    if (!building_) {
      if (recordHasKey(candidate.data, key)) {
        return slot;
      }
      continue;
    }
    if (grouping_ == Grouping::kByWord || rowHasKey(region.firstRows[groupOf(candidate)], key)) {
      return slot;
    }
  }
}

RowIndex::Match RowIndex::find(Cells key, Probe probe) const {
  const Region& region = regionOf(probe);
  const Slot& group = region.slots[slotOf(region, key, probe)];
  if (group.word == kFree) {
    return {};
  }
  const char* at = records_.get() + group.data;
  Match match;
  match.count = static_cast<std::uint32_t>(readLength(at));
  match.rows = rowsByGroup_.data() + readLength(at);
  if (probe.word >= kHashedWord) {
    for (std::size_t k = 0; k < keyColumns_.size(); ++k) {
      at += readLength(at);
    }
  }
  match.rendering = static_cast<std::uint64_t>(at - records_.get());
  return match;
}

bool RowIndex::recordHasKey(std::uint64_t record, Cells key) const {
  const char* at = records_.get() + record;
  readLength(at);
  readLength(at);
  for (std::string_view cell : key) {
    const std::uint64_t length = readLength(at);
    if (length != cell.size() || (length != 0 && std::memcmp(at, cell.data(), cell.size()) != 0)) {
      return false;
    }
    at += length;
  }
  return true;
}

const RowIndex::Slot* RowIndex::likelySlot(Probe probe) const {
  const Region& region = regionOf(probe);
  const Slot& slot = region.slots[probe.hash & region.mask];
  if (slot.word != probe.word) {
    return nullptr;
  }
  return &slot;
}

void RowIndex::prefetchGroup(Probe probe) const {
  if (building_ && grouping_ == Grouping::kByWord) {
    return;  // nothing but the slot is read
  }
  const Slot* group = likelySlot(probe);
  if (group == nullptr) {
    return;
  }
  if (building_) {
    __builtin_prefetch(&regionOf(probe).firstRows[groupOf(*group)]);
    return;
  }
  const char* record = records_.get() + group->data;
  __builtin_prefetch(record);
  __builtin_prefetch(record + 64);
}

void RowIndex::prefetchFirstRow(Probe probe, bool rowsWanted) const {
  if (building_ && grouping_ == Grouping::kByWord) {
    return;  // nothing but the slot is read
  }
  const Slot* group = likelySlot(probe);
  if (group == nullptr) {
    return;
  }
  if (building_) {
    __builtin_prefetch(table_->rows[regionOf(probe).firstRows[groupOf(*group)]].storage());
    return;
  }
  if (rowsWanted) {
    const char* at = records_.get() + group->data;
    readLength(at);
    __builtin_prefetch(&rowsByGroup_[readLength(at)]);
  }
}

void RowIndex::prefetchKeyText(Probe probe) const {
  if (!building_ || grouping_ == Grouping::kByWord || keyColumns_.empty()) {
    return;  // a built index compares keys in its records
  }
  const Slot* group = likelySlot(probe);
  if (group != nullptr && probe.word >= kHashedWord) {
    const Row first = table_->rows[regionOf(probe).firstRows[groupOf(*group)]];
    __builtin_prefetch(first[keyColumns_.front()].data());
  }
}

void RowIndex::gatherKey(std::uint32_t row, std::vector<std::string_view>& key) const {
  const Row cells = table_->rows[row];
  key.clear();
  for (std::size_t column : keyColumns_) {
    key.push_back(cells[column]);
  }
}

bool RowIndex::rowsShareKey(std::uint32_t row, std::uint32_t other) const {
  const Row cells = table_->rows[row];
  const Row otherCells = table_->rows[other];
  for (std::size_t column : keyColumns_) {
    if (cells[column] != otherCells[column]) {
      return false;
    }
  }
  return true;
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
