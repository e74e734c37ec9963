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
// One pass over the line, 16 bytes at a time (SSE2 is part of every x86-64): the
// separators' bits of each block give the fields' borders; false, with fields
// cleared, at the first apostrophe.
bool splitUnquotedWide(std::string_view line, char separator,
                       std::vector<std::string_view>& fields) {
  const char* const data = line.data();
  const std::size_t size = line.size();
  const __m128i separators = _mm_set1_epi8(separator);
  const __m128i apostrophes = _mm_set1_epi8(kApostrophe);
  std::size_t fieldStart = 0;
  std::size_t i = 0;
  for (; i + 16 <= size; i += 16) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
    if (_mm_movemask_epi8(_mm_cmpeq_epi8(block, apostrophes)) != 0) {
      fields.clear();
      return false;
    }
    for (auto cuts = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, separators)));
         cuts != 0; cuts &= cuts - 1) {
      const std::size_t at = i + static_cast<std::size_t>(__builtin_ctz(cuts));
      fields.emplace_back(data + fieldStart, at - fieldStart);
      fieldStart = at + 1;
    }
  }
  for (; i < size; ++i) {
    if (data[i] == kApostrophe) {
      fields.clear();
      return false;
    }
    if (data[i] == separator) {
      fields.emplace_back(data + fieldStart, i - fieldStart);
      fieldStart = i + 1;
    }
  }
  if (fieldStart < size) {
    fields.emplace_back(data + fieldStart, size - fieldStart);
  }
  return true;
}
#endif

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
#if defined(__SSE2__)
  if (!splitUnquotedWide(line, separator, fields)) {
    splitQuoted(line, separator, fields);
  }
#else
  splitIntoPlainly(line, separator, fields);
#endif
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

std::size_t fieldCount(std::string_view line, char separator) {
  std::size_t separators = 0;
  std::size_t i = 0;
#if defined(__SSE2__)
  const __m128i separatorBytes = _mm_set1_epi8(separator);
  const __m128i apostrophes = _mm_set1_epi8(kApostrophe);
  for (; i + 16 <= line.size(); i += 16) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(line.data() + i));
    if (_mm_movemask_epi8(_mm_cmpeq_epi8(block, apostrophes)) != 0) {
      break;  // the rest is counted a byte at a time
    }
    separators += static_cast<std::size_t>(__builtin_popcount(
        static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, separatorBytes)))));
  }
#endif
  for (std::size_t j = i; j < line.size(); ++j) {
    if (line[j] == kApostrophe) {
      std::vector<std::string_view> fields;
      splitQuoted(line, separator, fields);
      return fields.size();
    }
    separators += line[j] == separator ? 1 : 0;
  }
  // A separator at the very end closes the last field without opening another.
  return separators + (!line.empty() && line.back() != separator ? 1 : 0);
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
