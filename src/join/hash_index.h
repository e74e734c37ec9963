// An index from the cells of some key columns of a table to the rows holding them,
// so that a join finds the matching rows of its right table without scanning it.
//
// Beside its slots the index keeps one record a group of equal keys: the key's
// cells, then each row of the group rendered as a joined row takes it (its other
// cells, in column order, with a comma between two). A lookup thus reads its slot
// and one record, in which the key is confirmed and the rows to write lie next to
// it, whatever the width of the key and wherever the table's text lies. The index
// needs the table's cells only while it is built, and not even them for a table
// left in its text. A HashIndexBuilder builds one; once built, it never changes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "join/key_hash.h"
#include "tables/table.h"

// How an index lays out its slots and records, which its builder writes.
struct HashIndexLayout {
  // A group of rows sharing a key is found by a slot, the one its key hashes to
  // or the next free one: a fingerprint of the key's hash above kSlotOffsetBits,
  // the place of its record in its partition's below; 0 when the slot is unused.
  using Slot = std::uint64_t;
  static constexpr Slot kFree = 0;
  static constexpr unsigned kSlotOffsetBits = 35;
  static constexpr std::uint64_t kSlotOffsetMask = (std::uint64_t{1} << kSlotOffsetBits) - 1;
  static Slot fingerprint(std::uint64_t hash) {
    const std::uint64_t bits = (hash >> 20) & ((std::uint64_t{1} << (64 - kSlotOffsetBits)) - 1);
    return (bits == 0 ? 1 : bits) << kSlotOffsetBits;
  }

  // The keys whose hashes share their top bits: their slots, and their records,
  // one a group: its row count, the position of its first row in positions (when
  // the index has them), its key (the fingerprint itself when the fingerprint is
  // the key), then the payloads of its rows.
  struct Partition {
    std::vector<Slot> slots;
    std::size_t mask = 0;
    std::unique_ptr<char[]> records;
    std::unique_ptr<std::uint32_t[]> positions;  // row positions, grouped, in table order
  };

  // Lengths in records take one byte below 128, a byte more for each 7 bits above.
  static std::uint64_t readLength(const char*& at) {
    std::uint64_t length = 0;
    for (unsigned shift = 0;; shift += 7) {
      const auto byte = static_cast<unsigned char>(*at++);
      length |= static_cast<std::uint64_t>(byte & 0x7F) << shift;
      if (byte < 0x80) {
        return length;
      }
    }
  }
};

// What a HashIndexBuilder built: the partitions, and how a hash chooses one.
struct HashIndexParts {
  KeyHash hash;
  std::size_t keyColumnCount = 0;
  bool positions = false;  // whether records tell their rows' positions
  unsigned partitionShift = 63;
  std::size_t partitionMask = 0;
  std::vector<HashIndexLayout::Partition> partitions;
  std::size_t groups = 0;
};

class HashIndex : private HashIndexLayout {
 public:
  explicit HashIndex(HashIndexParts parts);
  HashIndex(HashIndex&&) = default;

  using Probe = KeyProbe;
  Probe probeFor(Cells key) const { return parts_.hash.probe(key); }

  // The rows of one key, in table order: their positions (only for a table that
  // keeps its rows; else none), and the place of the first one's payload; the
  // others' follow it, each found by nextPayload.
  struct Match {
    const std::uint32_t* rows = nullptr;
    std::uint32_t count = 0;
    std::uint64_t payload = 0;
    std::span<const std::uint32_t> positions() const {
      return rows == nullptr ? std::span<const std::uint32_t>() : std::span(rows, count);
    }
  };
  Match find(Cells key, Probe probe) const;
  // The number of distinct keys.
  std::size_t groupCount() const { return parts_.groups; }

  // A row's payload: the cells outside the key, as a joined row holds them. Its
  // place is its address in the index's records, so that reading it takes no
  // lookup of its own.
  static std::string_view payload(std::uint64_t place) {
    const char* at = reinterpret_cast<const char*>(place);
    const std::uint64_t length = readLength(at);
    return {at, static_cast<std::size_t>(length)};
  }
  // Where the payload of the next row of the same group starts.
  static std::uint64_t nextPayload(std::uint64_t place) {
    const std::string_view bytes = payload(place);
    return reinterpret_cast<std::uint64_t>(bytes.data() + bytes.size());
  }

  // The probes of the lookups a caller is about to make, kept while their memory
  // is being fetched.
  static constexpr std::size_t kProbesAhead = 32;
  using ProbeRing = std::array<Probe, 64>;

  // Calls process(i, probe) for i = 0 .. count - 1, in order, with probe =
  // probeOf(i), until process returns false (then returns false). A lookup reads
  // its slot and then its group's record (and the group's row positions when
  // rowsWanted); these are fetched in stages ahead of each lookup, so that each
  // finds its memory already in the cache.
  template <typename ProbeOf, typename Process>
  bool probeInOrder(std::size_t count, ProbeRing& probes, bool rowsWanted, ProbeOf&& probeOf,
                    Process&& process) const {
    constexpr std::size_t kStage = kProbesAhead / 3;
    static_assert(std::tuple_size_v<ProbeRing> > kProbesAhead);
    for (std::size_t i = 0; i < count + kProbesAhead; ++i) {
      if (i < count) {
        probes[i % probes.size()] = probeOf(i);
        prefetchSlot(probes[i % probes.size()]);
      }
      if (i >= kStage && i - kStage < count) {
        prefetchGroup(probes[(i - kStage) % probes.size()]);
      }
      if (rowsWanted && i >= 2 * kStage && i - 2 * kStage < count) {
        prefetchFirstRow(probes[(i - 2 * kStage) % probes.size()]);
      }
      if (i < kProbesAhead) {
        continue;
      }
      const std::size_t current = i - kProbesAhead;
      if (!process(current, probes[current % probes.size()])) {
        return false;
      }
    }
    return true;
  }

  using HashIndexLayout::readLength;

 private:
  static bool holds(Slot slot, Probe probe) {
    return (slot & ~kSlotOffsetMask) == fingerprint(probe.hash);
  }
  const Partition& partitionOf(Probe probe) const {
    return parts_.partitions[(probe.hash >> parts_.partitionShift) & parts_.partitionMask];
  }
  static constexpr std::size_t kSlotsPrefetched = 8;
  void prefetchSlot(Probe probe) const {
    const Partition& partition = partitionOf(probe);
    const std::size_t at = probe.hash & partition.mask;
    __builtin_prefetch(&partition.slots[at]);
    __builtin_prefetch(&partition.slots[(at + kSlotsPrefetched - 1) & partition.mask]);
  }
  void prefetchGroup(Probe probe) const;
  void prefetchFirstRow(Probe probe) const;
  // The slot the key hashes to, when it holds a group of the same fingerprint;
  // else kFree.
  Slot likelySlot(Probe probe) const;
  // Whether the record at place, in its partition's records, is that of key.
  bool recordHasKey(const char* record, Cells key, Probe probe) const;

  HashIndexParts parts_;
};
