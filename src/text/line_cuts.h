// How the cuts of a line are found, shared by the builds of the splitter for each
// instruction set (split.cpp for every x86-64, split_avx2.cpp for CPUs with AVX2).
// Everything here has internal linkage, so that code built for one instruction
// set never stands in for the other's.
#pragma once

#include <emmintrin.h>

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace {

constexpr char kApostrophe = '\'';
constexpr char kBackslash = '\\';

inline bool isEscapedApostrophe(std::string_view line, std::size_t position) {
  if (position == 0 || line[position - 1] != kBackslash) {
    return false;
  }
  return position < 2 || line[position - 2] != kBackslash;
}

// The plain loop from position start on, quote state quoted there. Calls
// cut(position) for each cut, in order.
template <typename Cut>
void cutBytes(std::string_view line, char separator, std::size_t start, bool quoted, Cut&& cut) {
  for (std::size_t i = start; i < line.size(); ++i) {
    const char byte = line[i];
    if (byte == kApostrophe && !isEscapedApostrophe(line, i)) {
      quoted = !quoted;
    }
    if (!quoted && byte == separator) {
      cut(i);
    }
  }
}

// Of a block of bytes, the bits of its separators, apostrophes and backslashes.
struct BlockBits {
  std::uint64_t separators;
  std::uint64_t apostrophes;
  std::uint64_t backslashes;
};

// 16 bytes at a time: SSE2 is part of every x86-64.
class Sse2Block {
 public:
  static constexpr std::size_t kWidth = 16;
  explicit Sse2Block(char separator)
      : separators_(_mm_set1_epi8(separator)),
        apostrophes_(_mm_set1_epi8(kApostrophe)),
        backslashes_(_mm_set1_epi8(kBackslash)) {}
  BlockBits at(const char* bytes) const {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes));
    const auto bits = [&block](__m128i byte) {
      return static_cast<std::uint64_t>(
          static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, byte))));
    };
    return {bits(separators_), bits(apostrophes_), bits(backslashes_)};
  }

 private:
  __m128i separators_;
  __m128i apostrophes_;
  __m128i backslashes_;
};

// The cuts of a line a block at a time, quotes included. An apostrophe after one
// backslash, not two, is escaped; each other one toggles the quote, so the bytes
// inside quotes are a running XOR of the toggles, carried from block to block, and
// only separators outside them cut. The last bytes of a line of a block or more
// are the block that ends with the line, of which only the bytes not yet seen
// count. Calls cut(position) for each cut, in order; returns where the plain loop
// takes over (0 for a line shorter than a block, else its end), with the quote
// state there.
template <typename Block, typename Cut>
std::size_t cutBlocks(std::string_view line, char separator, bool& quoted, Cut&& cut) {
  constexpr std::size_t kWidth = Block::kWidth;
  constexpr std::uint64_t kAll = (std::uint64_t{1} << kWidth) - 1;
  const Block block(separator);
  std::uint64_t before = 0;  // backslash bits of the two bytes before the block
  std::uint64_t inside = 0;  // all ones while a quote is open
  // Cuts the block at start, of which the bytes marked in fresh are new.
  const auto cutBlock = [&](std::size_t start, std::uint64_t fresh) {
    const BlockBits bits = block.at(line.data() + start);
    const std::uint64_t apostropheBits = bits.apostrophes & fresh;
    std::uint64_t cuts = bits.separators & fresh;
    if ((apostropheBits | inside) != 0) {
      // Bit k + 2 stands for byte k; bits 0 and 1 for the two bytes before.
      const std::uint64_t shifted = (bits.backslashes << 2) | before;
      const std::uint64_t escaped = apostropheBits & (shifted >> 1) & ~shifted;
      std::uint64_t quotes = apostropheBits & ~escaped;
      for (std::size_t shift = 1; shift < kWidth; shift <<= 1) {
        quotes ^= quotes << shift;
      }
      quotes = (quotes ^ inside) & kAll;
      cuts &= ~quotes;
      inside = (quotes >> (kWidth - 1)) != 0 ? kAll : 0;
    }
    before = bits.backslashes >> (kWidth - 2);
    for (; cuts != 0; cuts &= cuts - 1) {
      cut(start + static_cast<std::size_t>(__builtin_ctzll(cuts)));
    }
  };
  std::size_t i = 0;
  for (; i + kWidth <= line.size(); i += kWidth) {
    cutBlock(i, kAll);
  }
  if (i < line.size() && line.size() >= kWidth) {
    const std::size_t start = line.size() - kWidth;
    const auto backslashAt = [&line](std::size_t at, std::size_t back) {
      return at >= back && line[at - back] == kBackslash ? std::uint64_t{1} : 0;
    };
    before = backslashAt(start, 2) | backslashAt(start, 1) << 1;
    cutBlock(start, kAll & ~((std::uint64_t{1} << (i - start)) - 1));
    i = line.size();
  }
  quoted = inside != 0;
  return i;
}

// Every cut of line, with the blocks the build has, then the plain loop.
template <typename Block, typename Cut>
void cutLineBy(std::string_view line, char separator, Cut&& cut) {
  bool quoted = false;
  const std::size_t start = cutBlocks<Block>(line, separator, quoted, cut);
  cutBytes(line, separator, start, quoted, cut);
}

// The splitter's operations over a way of cutting lines: CutLine::cut(line,
// separator, cut) calls cut(position) for each cut.
template <typename CutLine>
struct LineCuts {
  static void splitInto(std::string_view line, char separator,
                        std::vector<std::string_view>& fields) {
    fields.clear();
    std::size_t fieldStart = 0;
    CutLine::cut(line, separator, [&](std::size_t at) {
      fields.emplace_back(line.data() + fieldStart, at - fieldStart);
      fieldStart = at + 1;
    });
    if (fieldStart < line.size()) {
      fields.emplace_back(line.data() + fieldStart, line.size() - fieldStart);
    }
  }

  static void splitTrimmedInto(std::string_view line, char separator,
                               std::vector<std::string_view>& fields) {
    fields.clear();
    std::size_t first = 0;
    std::size_t last = line.size();
    while (first < last && line[first] == ' ') {
      ++first;
    }
    while (last > first && line[last - 1] == ' ') {
      --last;
    }
    const std::string_view trimmed = line.substr(first, last - first);
    const auto emit = [&fields, &trimmed](std::size_t from, std::size_t to) {
      std::size_t end = to;
      while (from < end && trimmed[from] == ' ') {
        ++from;
      }
      while (end > from && trimmed[end - 1] == ' ') {
        --end;
      }
      // A field of spaces alone is the empty cell at its end, as trimmedView gives it.
      fields.emplace_back(trimmed.data() + (from == end ? to : from), end - from);
    };
    std::size_t fieldStart = 0;
    CutLine::cut(trimmed, separator, [&](std::size_t at) {
      emit(fieldStart, at);
      fieldStart = at + 1;
    });
    if (fieldStart < trimmed.size()) {
      emit(fieldStart, trimmed.size());
    }
  }

  static std::size_t fieldCount(std::string_view line, char separator) {
    std::size_t cuts = 0;
    std::size_t last = 0;  // one past the last cut
    CutLine::cut(line, separator, [&](std::size_t at) {
      ++cuts;
      last = at + 1;
    });
    // A separator at the very end closes the last field without opening another.
    return cuts + (last < line.size() ? 1 : 0);
  }
};

}  // namespace
