#include "text/split.h"

#include <cstring>

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
