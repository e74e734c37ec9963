#include "text/split.h"

#include <atomic>
#include <cstring>

#include "text/line_cuts.h"
#include "text/split_paths.h"

namespace {

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

struct CutByBytes {
  template <typename Cut>
  static void cut(std::string_view line, char separator, Cut&& cut) {
    cutBytes(line, separator, 0, false, cut);
  }
  template <typename Cut>
  static std::size_t cutAt(std::string_view text, std::size_t start, char separator, Cut&& cut) {
    const std::size_t found = text.find(kLineEnd, start);
    const std::size_t end = found == std::string_view::npos ? text.size() : found;
    cutBytes(text.substr(start, end - start), separator, 0, false,
             [&](std::size_t at) { cut(start + at); });
    return end;
  }
};

struct CutBySse2 {
  template <typename Cut>
  static void cut(std::string_view line, char separator, Cut&& cut) {
    cutLineBy<Sse2Block>(line, separator, cut);
  }
  template <typename Cut>
  static std::size_t cutAt(std::string_view text, std::size_t start, char separator, Cut&& cut) {
    return cutLineAt<Sse2Block>(text, start, separator, cut);
  }
};

using ByteCuts = LineCuts<CutByBytes>;
using Sse2Cuts = LineCuts<CutBySse2>;

CutPath cpuWidestPath() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") ? CutPath::kAvx2 : CutPath::kSse2;
}

// Read for every line, written only by tests between runs.
std::atomic<CutPath> cutPath{widestCutPath()};

CutPath path() {
  return cutPath.load(std::memory_order_relaxed);
}

}  // namespace

CutPath widestCutPath() {
  static const CutPath widest = cpuWidestPath();
  return widest;
}

CutPath takeCutPath(CutPath path) {
  const CutPath widest = widestCutPath();
  return cutPath.exchange(path > widest ? widest : path);
}

void splitInto(std::string_view line, char separator, std::vector<std::string_view>& fields) {
  switch (path()) {
    case CutPath::kAvx2:
      return split_paths::splitIntoAvx2(line, separator, fields);
    case CutPath::kSse2:
      return Sse2Cuts::splitInto(line, separator, fields);
    case CutPath::kBytes:
      break;
  }
  ByteCuts::splitInto(line, separator, fields);
}

void splitTrimmedInto(std::string_view line, char separator,
                      std::vector<std::string_view>& fields) {
  switch (path()) {
    case CutPath::kAvx2:
      return split_paths::splitTrimmedIntoAvx2(line, separator, fields);
    case CutPath::kSse2:
      return Sse2Cuts::splitTrimmedInto(line, separator, fields);
    case CutPath::kBytes:
      break;
  }
  ByteCuts::splitTrimmedInto(line, separator, fields);
}

std::size_t fieldCount(std::string_view line, char separator) {
  switch (path()) {
    case CutPath::kAvx2:
      return split_paths::fieldCountAvx2(line, separator);
    case CutPath::kSse2:
      return Sse2Cuts::fieldCount(line, separator);
    case CutPath::kBytes:
      break;
  }
  return ByteCuts::fieldCount(line, separator);
}

std::size_t splitTrimmedLineAt(std::string_view text, std::size_t start, char separator,
                               std::vector<std::string_view>& fields, std::string_view& line) {
  switch (path()) {
    case CutPath::kAvx2:
      return split_paths::splitTrimmedLineAtAvx2(text, start, separator, fields, line);
    case CutPath::kSse2:
      return Sse2Cuts::splitTrimmedLineAt(text, start, separator, fields, line);
    case CutPath::kBytes:
      break;
  }
  return ByteCuts::splitTrimmedLineAt(text, start, separator, fields, line);
}

std::size_t fieldCountOfLineAt(std::string_view text, std::size_t start, char separator,
                               std::size_t& count, std::string_view& line) {
  switch (path()) {
    case CutPath::kAvx2:
      return split_paths::fieldCountOfLineAtAvx2(text, start, separator, count, line);
    case CutPath::kSse2:
      return Sse2Cuts::fieldCountOfLineAt(text, start, separator, count, line);
    case CutPath::kBytes:
      break;
  }
  return ByteCuts::fieldCountOfLineAt(text, start, separator, count, line);
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
