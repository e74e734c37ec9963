// An index from the cells of some key columns of a table to the rows holding them,
// so that a join finds the matching rows of its right table without scanning it.
//
// Beside its slots the index keeps one record a group of equal keys: the key's
// cells, then each row of the group rendered as a joined row takes it (its other
// cells, in column order, with a comma between two). A lookup thus reads its slot
// and one record, in which the key is confirmed and the rows to write lie next to
// it, whatever the width of the key and wherever the table's text lies.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "tables/table.h"
#include "text/cell_format.h"

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
  // by the top bits of the keys' hashes, each built by a thread of its own. Rows
  // are rendered with their cells in format.
  RowIndex(const Table& table, std::vector<std::size_t> keyColumns, unsigned threads = 1,
           CellHash cellHash = hashBytes, CellFormat format = CellFormat::kNotation);

  // What a lookup needs of a key: its hash, and the word a slot holds for it. A key
  // of one cell of at most seven bytes is its own word; any other key's word is its
  // full hash with the top bit set, a fingerprint that the key is compared with
  // only when it matches.
  struct Probe {
    std::uint64_t hash;
    std::uint64_t word;
  };
  Probe probeFor(Cells key) const;

  // The rows of one key, in table order: their positions, and the place of the
  // first one's rendering; the others' follow it, each found by nextRendering.
  struct Match {
    const std::uint32_t* rows = nullptr;
    std::uint32_t count = 0;
    std::uint64_t rendering = 0;
    std::span<const std::uint32_t> positions() const { return {rows, count}; }
  };
  Match find(Cells key, Probe probe) const;
  // The number of distinct keys.
  std::size_t groupCount() const { return groups_; }

  // A row's rendering: the cells outside the key, as a joined row holds them.
  std::string_view rendering(std::uint64_t place) const {
    const char* at = records_.get() + place;
    const std::uint64_t length = readLength(at);
    return {at, static_cast<std::size_t>(length)};
  }
  // Where the rendering of the next row of the same group starts.
  std::uint64_t nextRendering(std::uint64_t place) const {
    const std::string_view bytes = rendering(place);
    return static_cast<std::uint64_t>(bytes.data() + bytes.size() - records_.get());
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
        prefetchFirstRow(probes[(i - 2 * kStage) % probes.size()], rowsWanted);
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

 private:
  // A group of rows sharing a key, kept in the slot its key hashes to (or the next
  // free one). While the index is built, data holds the group's number and, above
  // it, its row count; then the place of its record.
  struct Slot {
    std::uint64_t word;  // kFree when the slot is unused
    std::uint64_t data;
  };
  static constexpr std::uint64_t kFree = 0;
  static constexpr std::uint64_t kHashedWord = std::uint64_t{1} << 63;
  static std::uint32_t groupOf(const Slot& slot) { return static_cast<std::uint32_t>(slot.data); }
  static std::uint32_t countOf(const Slot& slot) {
    return static_cast<std::uint32_t>(slot.data >> 32);
  }
  // A record starts with its group's row count and the position of its first row
  // in rowsByGroup_, as lengths are written; then come the key, unless the slot's
  // word is the key, and the renderings.
  static constexpr std::size_t kMostHeadBytes = 10;

  // The slots of the keys whose hashes share their top bits.
  struct Region {
    std::vector<Slot> slots;
    std::size_t mask = 0;
    std::size_t groups = 0;
    std::size_t rows = 0;
    std::size_t recordBytes = 0;
    bool hashedWords = false;              // whether a group's word is a hash
    std::vector<std::uint32_t> firstRows;  // of each group, while building
    std::vector<std::uint64_t> groupEnds;  // in rowsByGroup_, then of records, while building
  };

  // Groups are first told apart by their words alone, so that building never reads
  // the text of a row found far back; writing the records, which reads every row
  // group by group, then compares each with its group's first. Two keys that share
  // a full hash fail it, and only then is the index built again comparing keys at
  // every insertion.
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
  void prefetchFirstRow(Probe probe, bool rowsWanted) const;
  void prefetchKeyText(Probe probe) const;

  // The slot of region that holds key, or the free slot where it belongs.
  std::size_t slotOf(const Region& region, Cells key, Probe probe) const;
  // Gives region this many slots, moving the groups found so far.
  static void resize(Region& region, std::size_t slotCount);
  // Finds or creates the group of every row whose key hashes into region.
  void groupRows(std::size_t regionNumber, std::vector<std::uint32_t>& groupOfRow);
  // Puts those rows in their groups' places; base is where the region's rows start.
  void placeRows(std::size_t regionNumber, std::uint32_t base,
                 const std::vector<std::uint32_t>& groupOfRow);
  // Writes the region's records from place on; false when a row's key differs from
  // that of its group's first row.
  bool writeRecords(std::size_t regionNumber, std::uint32_t base, std::uint64_t place);
  // The bits that mark a group number as the region's, when they fit.
  std::uint32_t regionTag(std::size_t regionNumber) const;
  bool inRegion(std::size_t row, const Region& region, std::vector<std::string_view>& key) const;
  // The slot the key hashes to, when it holds a group of the same word.
  const Slot* likelySlot(Probe probe) const;
  void gatherKey(std::uint32_t row, std::vector<std::string_view>& key) const;
  bool rowHasKey(std::uint32_t row, Cells key) const;
  bool rowsShareKey(std::uint32_t row, std::uint32_t other) const;
  bool recordHasKey(std::uint64_t record, Cells key) const;
  // The bytes a row takes in the records: its key when it opens a group, and its
  // rendering.
  bool keyIsItsWord(std::uint32_t row) const;
  std::size_t keyBytes(std::uint32_t row) const;
  std::size_t renderingLength(std::uint32_t row) const;
  std::size_t renderingBytes(std::uint32_t row) const;
  char* writeKey(char* to, std::uint32_t row) const;
  char* writeRendering(char* to, std::uint32_t row) const;

  const Table* table_;
  std::vector<std::size_t> keyColumns_;
  std::vector<std::size_t> otherColumns_;  // those a rendering holds, in order
  CellHash cellHash_;
  CellFormat format_;
  bool building_ = true;
  Grouping grouping_ = Grouping::kByWord;
  unsigned regionShift_ = 63;
  std::size_t regionMask_ = 0;
  unsigned regionBits_ = 0;
  bool taggedGroups_ = true;
  std::vector<Region> regions_;
  std::vector<std::uint32_t> rowsByGroup_;  // row positions, grouped, in table order
  std::unique_ptr<char[]> records_;
  std::size_t groups_ = 0;
};
