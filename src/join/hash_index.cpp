#include "join/hash_index.h"

#include <cstring>
#include <utility>

HashIndex::HashIndex(HashIndexParts parts) : parts_(std::move(parts)) {}

HashIndex::Match HashIndex::find(Cells key, Probe probe) const {
  const Partition& partition = partitionOf(probe);
  for (std::size_t slot = probe.hash & partition.mask;; slot = (slot + 1) & partition.mask) {
    const Slot candidate = partition.slots[slot];
    if (candidate == kFree) {
      return {};
    }
    if (!holds(candidate, probe)) {
      continue;
    }
    const char* const record = partition.records.get() + (candidate & kSlotOffsetMask);
    const char* at = record;
    Match match;
    match.count = static_cast<std::uint32_t>(readLength(at));
    if (parts_.positions) {
      match.rows = partition.positions.get() + readLength(at);
    }
    if (!recordHasKey(at, key, probe)) {
      continue;
    }
    if (probe.fingerprint >= KeyHash::kHashedFingerprint) {
      for (std::size_t k = 0; k < parts_.keyColumnCount; ++k) {
        at += readLength(at);
      }
    } else {
      at += sizeof probe.fingerprint;
    }
    match.payload = reinterpret_cast<std::uint64_t>(at);
    return match;
  }
}

bool HashIndex::recordHasKey(const char* at, Cells key, Probe probe) const {
  if (probe.fingerprint < KeyHash::kHashedFingerprint) {
    return std::memcmp(at, &probe.fingerprint, sizeof probe.fingerprint) == 0;
  }
  for (std::string_view cell : key) {
    const std::uint64_t length = readLength(at);
    if (length != cell.size() || (length != 0 && std::memcmp(at, cell.data(), cell.size()) != 0)) {
      return false;
    }
    at += length;
  }
  return true;
}

HashIndex::Slot HashIndex::likelySlot(Probe probe) const {
  const Partition& partition = partitionOf(probe);
  // A key often sits a few slots past the one it hashes to; those share its cache
  // line, or the next one, which its prefetch fetched too.
  std::size_t at = probe.hash & partition.mask;
  for (std::size_t walked = 0; walked < kSlotsPrefetched;
       ++walked, at = (at + 1) & partition.mask) {
    const Slot slot = partition.slots[at];
    if (slot == kFree || holds(slot, probe)) {
      return slot;
    }
  }
  return kFree;
}

void HashIndex::prefetchGroup(Probe probe) const {
  const Slot group = likelySlot(probe);
  if (group == kFree) {
    return;
  }
  const char* record = partitionOf(probe).records.get() + (group & kSlotOffsetMask);
  __builtin_prefetch(record);
  __builtin_prefetch(record + 64);
}

void HashIndex::prefetchFirstRow(Probe probe) const {
  const Slot group = likelySlot(probe);
  if (group == kFree || !parts_.positions) {
    return;
  }
  const char* at = partitionOf(probe).records.get() + (group & kSlotOffsetMask);
  readLength(at);
  __builtin_prefetch(&partitionOf(probe).positions[readLength(at)]);
}
