// An index from the cells of some key columns of a table to the rows holding them,
// so that a join finds the matching rows of its right table without scanning it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "tables/table.h"

// A fast, well-mixed hash of a byte string. It starts from a random value drawn
// once per process, so that no input can be built to make its keys collide. The
// output never varies with it: groups keep table order whatever their slots.
std::uint64_t hashBytes(std::string_view bytes);

// The hash an index takes of each cell of a key. Tests give a weak one, to see
// distinct keys share a hash.
using CellHash = std::uint64_t (*)(std::string_view);

class RowIndex {
 public:
  // Indexes every row of table by its cells in keyColumns (in that order). With no
  // key column all rows share the one empty key. The table holds at most
  // kMaxTableRows rows, which the parser enforces. The slots are split into regions
  // by the top bits of the keys' hashes, each built by a thread of its own.
  RowIndex(const Table& table, std::vector<std::size_t> keyColumns, unsigned threads = 1,
           CellHash cellHash = hashBytes);

  // What a lookup needs of a key: its hash, and the word a slot holds for it. A key
  // of one cell of at most seven bytes is its own word, so that finding it never
  // touches the table; any other key's word is its full hash with the top bit set,
  // a fingerprint that the key's text is compared with only when it matches.
  struct Probe {
    std::uint64_t hash;
    std::uint64_t word;
  };
  Probe probeFor(Cells key) const;

  // Positions of the rows whose key cells equal key, in table order.
  std::span<const std::uint32_t> find(Cells key, Probe probe) const;
  // The number of distinct keys.
  std::size_t groupCount() const { return groups_; }
  // All rows, group by group, each group in table order; find returns stretches of
  // it, and ordinalOf tells where such a stretch starts.
  std::span<const std::uint32_t> rowsInGroupOrder() const { return rowsByGroup_; }
  std::size_t ordinalOf(std::span<const std::uint32_t> matches) const {
    return matches.empty() ? 0 : static_cast<std::size_t>(matches.data() - rowsByGroup_.data());
  }

  // The probes of the lookups a caller is about to make, kept while their memory
  // is being fetched.
  static constexpr std::size_t kProbesAhead = 32;
  using ProbeRing = std::array<Probe, 64>;

  // Calls process(i, probe) for i = 0 .. count - 1, in order, with probe =
  // probeOf(i), until process returns false (then returns false). A lookup touches
  // its slot, the group's rows, the cells of its first row and, for keys that are
  // not their own word, that row's key text, each found through the one before;
  // these are fetched in stages ahead of each lookup, so that each finds its memory
  // already in the cache.
  template <typename ProbeOf, typename Process>
  bool probeInOrder(std::size_t count, ProbeRing& probes, ProbeOf&& probeOf,
                    Process&& process) const {
    constexpr std::size_t kStage = kProbesAhead / 4;
    static_assert(std::tuple_size_v<ProbeRing> > kProbesAhead);
    for (std::size_t i = 0; i < count + kProbesAhead; ++i) {
      if (i < count) {
        probes[i % probes.size()] = probeOf(i);
        prefetchSlot(probes[i % probes.size()]);
      }
      if (i >= kStage && i - kStage < count) {
        prefetchGroup(probes[(i - kStage) % probes.size()]);
      }
      if (i >= 2 * kStage && i - 2 * kStage < count) {
        prefetchFirstRow(probes[(i - 2 * kStage) % probes.size()]);
      }
      if (i >= 3 * kStage && i - 3 * kStage < count) {
        prefetchKeyText(probes[(i - 3 * kStage) % probes.size()]);
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

 private:
  // One group of rows sharing a key, kept in the slot its key hashes to (or the next
  // free one). While the index is built, first holds the group's number; then the
  // group's place in rowsByGroup_.
  struct Slot {
    std::uint64_t word;  // kFree when the slot is unused
    std::uint32_t first;
    std::uint32_t count;
  };
  static constexpr std::uint64_t kFree = 0;
  static constexpr std::uint64_t kHashedWord = std::uint64_t{1} << 63;

  // The slots of the keys whose hashes share their top bits.
  struct Region {
    std::vector<Slot> slots;
    std::size_t mask = 0;
    std::size_t groups = 0;
    std::size_t rows = 0;
    std::vector<std::uint32_t> firstRows;  // of each group, while building
    bool hashedWords = false;              // whether a group's word is a hash
  };

  // Groups are first told apart by their words alone, so that building never reads
  // the text of a row found far back; a second pass then compares every row with
  // its group's first. Two keys that share a full hash fail it, and only then is
  // the index built again comparing text at every insertion.
  enum class Grouping { kByWord, kByKey };
  // False when two keys in one group differ (only when grouped by word).
  bool build(Grouping grouping);
  const Region& regionOf(Probe probe) const {
    return regions_[(probe.hash >> regionShift_) & regionMask_];
  }
  void prefetchSlot(Probe probe) const {
    const Region& region = regionOf(probe);
    __builtin_prefetch(&region.slots[probe.hash & region.mask]);
  }
  void prefetchGroup(Probe probe) const;
  void prefetchFirstRow(Probe probe) const;
  void prefetchKeyText(Probe probe) const;

  // The slot of region that holds key, or the free slot where it belongs.
  std::size_t slotOf(const Region& region, Cells key, Probe probe) const;
  // Gives region this many slots, moving the groups found so far.
  static void resize(Region& region, std::size_t slotCount);
  // Finds or creates the group of every row whose key hashes into region.
  void groupRows(std::size_t regionNumber, std::vector<std::uint32_t>& groupOfRow);
  // Puts those rows in their groups' places; base is where the region's rows start.
  // False when a row's key differs from that of its group's first row.
  bool placeRows(std::size_t regionNumber, std::uint32_t base,
                 const std::vector<std::uint32_t>& groupOfRow);
  // The bits that mark a group number as the region's, when they fit.
  std::uint32_t regionTag(std::size_t regionNumber) const;
  bool inRegion(std::size_t row, const Region& region, std::vector<std::string_view>& key) const;
  // The slot the key hashes to, when it holds a group of the same word.
  const Slot* likelySlot(Probe probe) const;
  void gatherKey(std::uint32_t row, std::vector<std::string_view>& key) const;
  bool rowHasKey(std::uint32_t row, Cells key) const;
  bool rowsShareKey(std::uint32_t row, std::uint32_t other) const;
  void prefetchKeyOf(std::uint32_t row) const;

  std::uint32_t firstRowOf(const Region& region, const Slot& slot) const {
    return building_ ? region.firstRows[slot.first] : rowsByGroup_[slot.first];
  }

  const Table* table_;
  std::vector<std::size_t> keyColumns_;
  CellHash cellHash_;
  bool building_ = true;
  Grouping grouping_ = Grouping::kByWord;
  unsigned regionShift_ = 63;
  std::size_t regionMask_ = 0;
  unsigned regionBits_ = 0;
  bool taggedGroups_ = true;
  std::vector<Region> regions_;
  std::vector<std::uint32_t> rowsByGroup_;  // row positions, grouped, in table order
  std::size_t groups_ = 0;
};
