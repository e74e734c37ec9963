// The hash of a key, and how an index spends its bits.
//
// Of a key's 64-bit hash, an index takes
// - its top bits to choose the key's partition, as many as the index has
//   partitions (up to 16: bits 48 to 63);
// - bits 20 to 48 as the fingerprint a slot keeps of the key, beside the place of
//   its record;
// - its low bits to choose the key's first slot in the partition. A partition of
//   more than 2^20 slots shares bits with the fingerprint, which then tells fewer
//   keys apart; nothing else changes.
// A key of one cell of at most seven bytes is its own probe fingerprint, compared
// with no record; any other key's probe fingerprint is its hash with the top bit
// set, and only a slot of the same fingerprint has its key compared.
#pragma once

#include <cstdint>
#include <string_view>

#include "tables/table.h"

// A fast, well-mixed hash of a byte string. It starts from a random value drawn
// once per process, so that no input can be built to make its keys collide. The
// output never varies with it: groups keep table order whatever their slots.
std::uint64_t hashBytes(std::string_view bytes);

// What a lookup needs of a key: its hash, and the fingerprint a slot holds for it.
struct KeyProbe {
  std::uint64_t hash;
  std::uint64_t fingerprint;
};

// The hash an index takes of keys, made from a hash of their cells. The product
// takes hashBytes; tests give weak ones, to see distinct keys share a hash, short
// keys as much as long ones.
class KeyHash {
 public:
  using CellHash = std::uint64_t (*)(std::string_view);
  static constexpr std::size_t kLongestShortKey = 7;
  static constexpr std::uint64_t kHashedFingerprint = std::uint64_t{1} << 63;

  explicit KeyHash(CellHash cell = hashBytes) : cell_(cell) {}

  KeyProbe probe(Cells key) const;
  // The hash of the key whose probe fingerprint this is, for a key known by it
  // alone: a short key's worked out from its bytes, any other's read from it.
  std::uint64_t hashOf(std::uint64_t fingerprint) const;

 private:
  std::uint64_t hashOfCells(Cells key) const;

  CellHash cell_;
};
