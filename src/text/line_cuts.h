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
constexpr char kLineEnd = '\n';

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

// Of a block of bytes, the bits of its separators, apostrophes, backslashes and
// line ends.
struct BlockBits {
  std::uint64_t separators;
  std::uint64_t apostrophes;
  std::uint64_t backslashes;
  std::uint64_t lineEnds;
};

// 16 bytes at a time: SSE2 is part of every x86-64.
class Sse2Block {
 public:
  static constexpr std::size_t kWidth = 16;
  explicit Sse2Block(char separator)
      : separators_(_mm_set1_epi8(separator)),
        apostrophes_(_mm_set1_epi8(kApostrophe)),
        backslashes_(_mm_set1_epi8(kBackslash)),
        lineEnds_(_mm_set1_epi8(kLineEnd)) {}
  BlockBits at(const char* bytes) const {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes));
    const auto bits = [&block](__m128i byte) {
      return static_cast<std::uint64_t>(
          static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, byte))));
    };
    return {bits(separators_), bits(apostrophes_), bits(backslashes_), bits(lineEnds_)};
  }

 private:
  __m128i separators_;
  __m128i apostrophes_;
  __m128i backslashes_;
  __m128i lineEnds_;
};

// The cuts of a line a block at a time, quotes included. An apostrophe after one
// backslash, not two, is escaped; each other one toggles the quote, so the bytes
// inside quotes are a running XOR of the toggles, carried from block to block, and
// only separators outside them cut.
template <typename Block>
class QuoteCarry {
 public:
  static constexpr std::size_t kWidth = Block::kWidth;
  static constexpr std::uint64_t kAll = (std::uint64_t{1} << kWidth) - 1;

  // The separators outside quotes among the bytes marked in fresh of the block
  // whose bits are given; the quote state is carried on past them.
  std::uint64_t cuts(const BlockBits& bits, std::uint64_t fresh) {
    const std::uint64_t apostropheBits = bits.apostrophes & fresh;
    std::uint64_t cuts = bits.separators & fresh;
    if ((apostropheBits | inside_) != 0) {
      // Bit k + 2 stands for byte k; bits 0 and 1 for the two bytes before.
      const std::uint64_t shifted = (bits.backslashes << 2) | before_;
      const std::uint64_t escaped = apostropheBits & (shifted >> 1) & ~shifted;
      std::uint64_t quotes = apostropheBits & ~escaped;
      for (std::size_t shift = 1; shift < kWidth; shift <<= 1) {
        quotes ^= quotes << shift;
      }
      quotes = (quotes ^ inside_) & kAll;
      cuts &= ~quotes;
      inside_ = (quotes >> (kWidth - 1)) != 0 ? kAll : 0;
    }
    before_ = bits.backslashes >> (kWidth - 2);
    return cuts;
  }
  // Whether the bytes two and one before the next block are backslashes.
  void setBefore(bool twoBack, bool oneBack) { before_ = (twoBack ? 1 : 0) | (oneBack ? 2 : 0); }
  bool quoted() const { return inside_ != 0; }

 private:
  std::uint64_t before_ = 0;  // backslash bits of the two bytes before the block
  std::uint64_t inside_ = 0;  // all ones while a quote is open
};

template <typename Cut>
void cutEach(std::size_t start, std::uint64_t cuts, Cut&& cut) {
  for (; cuts != 0; cuts &= cuts - 1) {
    cut(start + static_cast<std::size_t>(__builtin_ctzll(cuts)));
  }
}

// The last bytes of a line of a block or more are the block that ends with the
// line, of which only the bytes not yet seen count. Calls cut(position) for each
// cut, in order; returns where the plain loop takes over (0 for a line shorter
// than a block, else its end), with the quote state there.
template <typename Block, typename Cut>
std::size_t cutBlocks(std::string_view line, char separator, bool& quoted, Cut&& cut) {
  constexpr std::size_t kWidth = Block::kWidth;
  using Carry = QuoteCarry<Block>;
  const Block block(separator);
  Carry carry;
  std::size_t i = 0;
  for (; i + kWidth <= line.size(); i += kWidth) {
    cutEach(i, carry.cuts(block.at(line.data() + i), Carry::kAll), cut);
  }
  if (i < line.size() && line.size() >= kWidth) {
    const std::size_t start = line.size() - kWidth;
    const auto backslashAt = [&line](std::size_t at, std::size_t back) {
      return at >= back && line[at - back] == kBackslash;
    };
    carry.setBefore(backslashAt(start, 2), backslashAt(start, 1));
    const std::uint64_t seen = (std::uint64_t{1} << (i - start)) - 1;
    cutEach(start, carry.cuts(block.at(line.data() + start), Carry::kAll & ~seen), cut);
    i = line.size();
  }
  quoted = carry.quoted();
  return i;
}

// The cuts of the line that starts at start in text, found with its end: blocks
// are read on past the line, within text, and only the bytes before its "\n"
// count. Calls cut(position in text) for each cut, in order; returns where the
// line's "\n" is, or text's end.
template <typename Block, typename Cut>
std::size_t cutLineAt(std::string_view text, std::size_t start, char separator, Cut&& cut) {
  constexpr std::size_t kWidth = Block::kWidth;
  using Carry = QuoteCarry<Block>;
  const Block block(separator);
  Carry carry;
  std::size_t i = start;
  for (; i + kWidth <= text.size(); i += kWidth) {
    const BlockBits bits = block.at(text.data() + i);
    if (bits.lineEnds != 0) {
      const auto end = static_cast<std::size_t>(__builtin_ctzll(bits.lineEnds));
      cutEach(i, carry.cuts(bits, (std::uint64_t{1} << end) - 1), cut);
      return i + end;
    }
    cutEach(i, carry.cuts(bits, Carry::kAll), cut);
  }
  // Too few bytes are left for a block: the rest of the line, a byte at a time.
  const std::size_t found = text.find(kLineEnd, i);
  const std::size_t end = found == std::string_view::npos ? text.size() : found;
  cutBytes(text.substr(start, end - start), separator, i - start, carry.quoted(),
           [&](std::size_t at) { cut(start + at); });
  return end;
}

// Every cut of line, with the blocks the build has, then the plain loop.
template <typename Block, typename Cut>
void cutLineBy(std::string_view line, char separator, Cut&& cut) {
  bool quoted = false;
  const std::size_t start = cutBlocks<Block>(line, separator, quoted, cut);
  cutBytes(line, separator, start, quoted, cut);
}

// The splitter's operations over a way of cutting lines: CutLine::cut(line,
// separator, cut) calls cut(position) for each cut; CutLine::cutAt(text, start,
// separator, cut) does so for the line that starts at start in text, and returns
// where its "\n" is, or text's end.
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
    std::size_t fieldStart = 0;
    CutLine::cut(trimmed, separator, [&](std::size_t at) {
      emitTrimmed(fields, trimmed, fieldStart, at);
      fieldStart = at + 1;
    });
    if (fieldStart < trimmed.size()) {
      emitTrimmed(fields, trimmed, fieldStart, trimmed.size());
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

  static std::size_t splitTrimmedLineAt(std::string_view text, std::size_t start, char separator,
                                        std::vector<std::string_view>& fields,
                                        std::string_view& line) {
    fields.clear();
    const LineFields cut =
        cutFieldsAt(text, start, separator, line,
                    [&](std::size_t from, std::size_t to) { emitTrimmed(fields, text, from, to); });
    if (cut.lastStart < cut.trimmedEnd) {
      emitTrimmed(fields, text, cut.lastStart, cut.trimmedEnd);
    }
    return cut.next;
  }

  static std::size_t fieldCountOfLineAt(std::string_view text, std::size_t start, char separator,
                                        std::size_t& count, std::string_view& line) {
    std::size_t cuts = 0;
    const LineFields cut =
        cutFieldsAt(text, start, separator, line, [&cuts](std::size_t, std::size_t) { ++cuts; });
    count = cuts + (cut.lastStart < cut.trimmedEnd ? 1 : 0);
    return cut.next;
  }

 private:
  // The field of bytes from..to without the spaces at its ends; one of spaces
  // alone is the empty view at its end, as trimmedView gives it.
  static void emitTrimmed(std::vector<std::string_view>& fields, std::string_view bytes,
                          std::size_t from, std::size_t to) {
    std::size_t end = to;
    while (from < end && bytes[from] == ' ') {
      ++from;
    }
    while (end > from && bytes[end - 1] == ' ') {
      --end;
    }
    fields.emplace_back(bytes.data() + (from == end ? to : from), end - from);
  }

  // Of a line cut with its end found: where its last field starts and where the
  // spaces after it begin (the field is empty when it starts there or later), and
  // where the next line starts.
  struct LineFields {
    std::size_t lastStart;
    std::size_t trimmedEnd;
    std::size_t next;
  };
  // Cuts the line that starts at start in text, calling field(from, to) for each
  // field but the last; line is set to the line without its line end.
  template <typename Field>
  static LineFields cutFieldsAt(std::string_view text, std::size_t start, char separator,
                                std::string_view& line, Field&& field) {
    std::size_t fieldStart = start;
    const std::size_t end = CutLine::cutAt(text, start, separator, [&](std::size_t at) {
      field(fieldStart, at);
      fieldStart = at + 1;
    });
    line = lineBetween(text, start, end);
    return {fieldStart, lastNonSpaceEnd(text, fieldStart, start + line.size()),
            end < text.size() ? end + 1 : end};
  }

  // The line from start to the line end at end, without a "\r" right before it.
  static std::string_view lineBetween(std::string_view text, std::size_t start, std::size_t end) {
    std::string_view line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') {
      line.remove_suffix(1);
    }
    return line;
  }
  // Where the spaces that end text's bytes from..end begin (end when none do).
  static std::size_t lastNonSpaceEnd(std::string_view text, std::size_t from, std::size_t end) {
    while (end > from && text[end - 1] == ' ') {
      --end;
    }
    return end;
  }
};

}  // namespace
