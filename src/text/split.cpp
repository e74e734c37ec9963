#include "text/split.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

constexpr char kApostrophe = '\'';
constexpr char kBackslash = '\\';

bool isEscapedApostrophe(std::string_view line, std::size_t position) {
  if (position == 0 || line[position - 1] != kBackslash) {
    return false;
  }
  return position < 2 || line[position - 2] != kBackslash;
}

// Most lines hold no apostrophe at all; they are cut with memchr alone.
void splitUnquoted(std::string_view line, char separator, std::vector<std::string_view>& fields) {
  const char* begin = line.data();
  const char* const end = begin + line.size();
  while (begin != end) {
    const void* hit = std::memchr(begin, separator, static_cast<std::size_t>(end - begin));
    const char* cut = hit != nullptr ? static_cast<const char*>(hit) : end;
    fields.emplace_back(begin, static_cast<std::size_t>(cut - begin));
    if (cut == end) {
      return;
    }
    begin = cut + 1;
  }
}

#if defined(__SSE2__)
// The cuts of a line 16 bytes at a time (SSE2 is part of every x86-64), quotes
// included: of each block, the bits of its separators, apostrophes and
// backslashes. An apostrophe after one backslash, not two, is escaped; each other
// one toggles the quote, so the bytes inside quotes are a running XOR of the
// toggles, carried from block to block, and only separators outside them cut.
// Calls cut(position) for each cut, in order, and returns the position of the
// first byte of the tail (fewer than 16) left for the plain loop, with the quote
// state there.
template <typename Cut>
std::size_t cutBlocks(std::string_view line, char separator, bool& quoted, Cut&& cut) {
  const __m128i separators = _mm_set1_epi8(separator);
  const __m128i apostrophes = _mm_set1_epi8(kApostrophe);
  const __m128i backslashes = _mm_set1_epi8(kBackslash);
  unsigned before = 0;  // backslash bits of the two bytes before the block
  unsigned inside = 0;  // all ones while a quote is open
  // Cuts the block at start, of which the bytes from fresh on are new.
  const auto cutBlock = [&](std::size_t start, unsigned fresh) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(line.data() + start));
    const auto bits = [&block](__m128i byte) {
      return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, byte)));
    };
    const unsigned apostropheBits = bits(apostrophes) & fresh;
    const unsigned backslashBits = bits(backslashes);
    unsigned cuts = bits(separators) & fresh;
    if ((apostropheBits | inside) != 0) {
      // Bit k + 2 stands for byte k; bits 0 and 1 for the two bytes before.
      const unsigned shifted = (backslashBits << 2) | before;
      const unsigned escaped = apostropheBits & (shifted >> 1) & ~shifted;
      unsigned quotes = apostropheBits & ~escaped;
      quotes ^= quotes << 1;
      quotes ^= quotes << 2;
      quotes ^= quotes << 4;
      quotes ^= quotes << 8;
      quotes = (quotes ^ inside) & 0xFFFF;
      cuts &= ~quotes;
      inside = (quotes & 0x8000) != 0 ? 0xFFFF : 0;
    }
    before = backslashBits >> 14;
    for (; cuts != 0; cuts &= cuts - 1) {
      cut(start + static_cast<std::size_t>(__builtin_ctz(cuts)));
    }
  };
  std::size_t i = 0;
  for (; i + 16 <= line.size(); i += 16) {
    cutBlock(i, 0xFFFF);
  }
  // The last bytes of a line of 16 or more: the block that ends with the line,
  // of which only the bytes past i are new.
  if (i < line.size() && line.size() >= 16) {
    const std::size_t start = line.size() - 16;
    const auto backslashAt = [&line](std::size_t at, std::size_t back) {
      return at >= back && line[at - back] == kBackslash ? 1u : 0u;
    };
    before = backslashAt(start, 2) | backslashAt(start, 1) << 1;
    cutBlock(start, 0xFFFFu & ~((1u << (i - start)) - 1));
    i = line.size();
  }
  quoted = inside != 0;
  return i;
}
#endif

// The plain loop from position start on, quote state quoted there.
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

// Every cut of line, the wide way where the machine has it.
template <typename Cut>
void cutLine(std::string_view line, char separator, Cut&& cut) {
  bool quoted = false;
  std::size_t start = 0;
#if defined(__SSE2__)
  start = cutBlocks(line, separator, quoted, cut);
#endif
  cutBytes(line, separator, start, quoted, cut);
}

void splitQuoted(std::string_view line, char separator, std::vector<std::string_view>& fields) {
  bool quoted = false;
  std::size_t fieldStart = 0;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char byte = line[i];
    if (byte == kApostrophe && !isEscapedApostrophe(line, i)) {
      quoted = !quoted;
    }
    if (!quoted && byte == separator) {
      fields.push_back(line.substr(fieldStart, i - fieldStart));
      fieldStart = i + 1;
    }
  }
  if (fieldStart < line.size()) {
    fields.push_back(line.substr(fieldStart));
  }
}

}  // namespace

void splitInto(std::string_view line, char separator, std::vector<std::string_view>& fields) {
  fields.clear();
  std::size_t fieldStart = 0;
  cutLine(line, separator, [&](std::size_t at) {
    fields.emplace_back(line.data() + fieldStart, at - fieldStart);
    fieldStart = at + 1;
  });
  if (fieldStart < line.size()) {
    fields.emplace_back(line.data() + fieldStart, line.size() - fieldStart);
  }
}

void splitIntoPlainly(std::string_view line, char separator,
                      std::vector<std::string_view>& fields) {
  fields.clear();
  if (line.find(kApostrophe) == std::string_view::npos) {
    splitUnquoted(line, separator, fields);
    return;
  }
  splitQuoted(line, separator, fields);
}

void splitTrimmedInto(std::string_view line, char separator,
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
  cutLine(trimmed, separator, [&](std::size_t at) {
    emit(fieldStart, at);
    fieldStart = at + 1;
  });
  if (fieldStart < trimmed.size()) {
    emit(fieldStart, trimmed.size());
  }
}

std::size_t fieldCount(std::string_view line, char separator) {
  std::size_t cuts = 0;
  std::size_t last = 0;  // one past the last cut
  cutLine(line, separator, [&](std::size_t at) {
    ++cuts;
    last = at + 1;
  });
  // A separator at the very end closes the last field without opening another.
  return cuts + (last < line.size() ? 1 : 0);
}

std::vector<std::string> split(const std::string& line, char separator) {
  std::vector<std::string_view> views;
  splitInto(line, separator, views);
  return std::vector<std::string>(views.begin(), views.end());
}

std::size_t unclosedQuoteAt(std::string_view line) {
  std::size_t opened = std::string_view::npos;
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (line[i] == kApostrophe && !isEscapedApostrophe(line, i)) {
      opened = opened == std::string_view::npos ? i : std::string_view::npos;
    }
  }
  return opened;
}
