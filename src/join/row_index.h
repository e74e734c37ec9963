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

// A fast, well-mixed hash of a byte string. It is seeded once per process from a
// random source, so that no input can be built to make its keys collide; nothing
// that is written depends on the seed.
std::uint64_t hashBytes(std::string_view bytes);

class RowIndex {
 public:
  // Indexes every row of table by its cells in keyColumns (in that order). With no
  // key column all rows share the one empty key. The table holds at most
  // kMaxTableRows rows, which the parser enforces.
  RowIndex(const Table& table, std::vector<std::size_t> keyColumns);

  static std::uint64_t hashKey(Cells key);

  // Positions of the rows whose key cells equal key, in table order; hash is
  // hashKey(key).
  std::span<const std::uint32_t> find(Cells key, std::uint64_t hash) const;
  // The number of distinct keys.
  std::size_t groupCount() const { return groups_; }
  // All rows, group by group, each group in table order; find returns stretches of
  // it, and ordinalOf tells where such a stretch starts.
  std::span<const std::uint32_t> rowsInGroupOrder() const { return rowsByGroup_; }
  std::size_t ordinalOf(const std::uint32_t* match) const {
    return static_cast<std::size_t>(match - rowsByGroup_.data());
  }

  // The hashes of the probes a caller is about to make, kept while their memory is
  // being fetched.
  static constexpr std::size_t kProbesAhead = 24;
  using ProbeRing = std::array<std::uint64_t, 32>;

  // Calls process(i, hash) for i = 0 .. count - 1, in order, with hash = hashOf(i),
  // until process returns false (then returns false). A probe touches its slot, the
  // first row of the slot's group and that row's key text, each found through the
  // one before; these are fetched in three stages ahead of each probe, so that each
  // finds its memory already in the cache.
  template <typename HashOf, typename Process>
  bool probeInOrder(std::size_t count, ProbeRing& hashes, HashOf&& hashOf,
                    Process&& process) const {
    constexpr std::size_t kStage = kProbesAhead / 3;
    static_assert(std::tuple_size_v<ProbeRing> > kProbesAhead);
    for (std::size_t i = 0; i < count + kProbesAhead; ++i) {
      if (i < count) {
        hashes[i % hashes.size()] = hashOf(i);
        prefetchSlot(hashes[i % hashes.size()]);
      }
      if (i >= kStage && i - kStage < count) {
        prefetchFirstRow(hashes[(i - kStage) % hashes.size()]);
      }
      if (i >= 2 * kStage && i - 2 * kStage < count) {
        prefetchKeyText(hashes[(i - 2 * kStage) % hashes.size()]);
      }
      if (i < kProbesAhead) {
        continue;
      }
      const std::size_t current = i - kProbesAhead;
      if (!process(current, hashes[current % hashes.size()])) {
        return false;
      }
    }
    return true;
  }

 private:
  void prefetchSlot(std::uint64_t hash) const { __builtin_prefetch(&slots_[hash & slotMask_]); }
  void prefetchFirstRow(std::uint64_t hash) const;
  void prefetchKeyText(std::uint64_t hash) const;

  // One group of rows sharing a key, kept in the slot its key hashes to (or the next
  // free one): the slot's number is the group's identity.
  struct Slot {
    std::uint32_t tag;       // upper half of the key's hash
    std::uint32_t firstRow;  // kFree when the slot is unused
    std::uint32_t offset;    // of the group's rows in rowsByGroup
    std::uint32_t count;
  };
  static constexpr std::uint32_t kFree = 0xFFFFFFFF;

  static std::uint32_t tagOf(std::uint64_t hash) { return static_cast<std::uint32_t>(hash >> 32); }
  // The slot that holds key, or the free slot where it belongs.
  std::size_t slotOf(Cells key, std::uint64_t hash) const;
  // The slot the key hashes to, when it is taken by a group of the same tag.
  const Slot* likelySlot(std::uint64_t hash) const;
  void gatherKey(std::uint32_t row, std::vector<std::string_view>& key) const;
  bool rowHasKey(std::uint32_t row, Cells key) const;

  const Table* table_;
  std::vector<std::size_t> keyColumns_;
  std::size_t slotMask_ = 0;
  std::vector<Slot> slots_;
  std::vector<std::uint32_t> rowsByGroup_;  // row positions, grouped, in table order
  std::size_t groups_ = 0;
};
