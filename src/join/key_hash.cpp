#include "join/key_hash.h"

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

std::uint64_t absorb(std::uint64_t state, std::uint64_t bytes) {
  state = (state ^ bytes) * kMultiplier;
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

std::uint64_t hashOfShortKey(std::uint64_t fingerprint) {
  return mix(absorb(kSeed ^ kMultiplier, fingerprint));
}

}  // namespace

std::uint64_t hashBytes(std::string_view bytes) {
  std::uint64_t state = kSeed ^ kMultiplier ^ bytes.size();
  const char* position = bytes.data();
  std::size_t remaining = bytes.size();
  while (remaining >= 8) {
    std::uint64_t block;
    std::memcpy(&block, position, 8);
    state = absorb(state, block);
    position += 8;
    remaining -= 8;
  }
  if (remaining > 0) {
    state = absorb(state, loadShort(position, remaining));
  }
  return mix(state);
}

std::uint64_t KeyHash::hashOfCells(Cells key) const {
  std::uint64_t hash = 0;
  for (std::string_view cell : key) {
    // The product's hash is called directly, where it can be inlined.
    hash = combine(hash, cell_ == hashBytes ? hashBytes(cell) : cell_(cell));
  }
  return mix(hash);
}

KeyProbe KeyHash::probe(Cells key) const {
  if (key.size() == 1 && key[0].size() <= kLongestShortKey) {
    // The length is kept above the bytes, one more than it is, so that no key's
    // fingerprint is 0 (a free slot) and none has the top bit of hashed fingerprints.
    std::uint64_t fingerprint = loadShort(key[0].data(), key[0].size());
    fingerprint |= static_cast<std::uint64_t>(key[0].size() + 1) << 56;
    return KeyProbe{hashOf(fingerprint), fingerprint};
  }
  const std::uint64_t hash = hashOfCells(key);
  return KeyProbe{hash, hash | kHashedFingerprint};
}

std::uint64_t KeyHash::hashOf(std::uint64_t fingerprint) const {
  if (fingerprint >= kHashedFingerprint) {
    return fingerprint;
  }
  if (cell_ == hashBytes) {
    return hashOfShortKey(fingerprint);
  }
  char bytes[8];
  std::memcpy(bytes, &fingerprint, sizeof bytes);
  const std::string_view cell(bytes, (fingerprint >> 56) - 1);
  return hashOfCells(Cells(&cell, 1));
}
