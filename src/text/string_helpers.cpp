#include "text/string_helpers.h"

#include <algorithm>

std::string_view trimmedView(std::string_view text) {
  const std::size_t first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) {
    return text.substr(text.size());
  }
  const std::size_t last = text.find_last_not_of(' ');
  return text.substr(first, last - first + 1);
}

std::string trimmedCopy(const std::string& text) {
  return std::string(trimmedView(text));
}

void removeChar(std::string& text, char ch) {
  text.erase(std::remove(text.begin(), text.end(), ch), text.end());
}

bool stripPrefix(std::string& text, const std::string& prefix) {
  if (!text.starts_with(prefix)) {
    return false;
  }
  text.erase(0, prefix.size());
  return true;
}

bool stripSuffix(std::string& text, const std::string& suffix) {
  if (!text.ends_with(suffix)) {
    return false;
  }
  text.erase(text.size() - suffix.size());
  return true;
}

std::string joinStrings(std::span<const std::string_view> items, const char* separator) {
  const std::string_view sep(separator);
  std::string joined;
  for (std::string_view item : items) {
    joined.append(item);
    joined.append(sep);
  }
  return joined;
}

void writeJoinedLine(std::span<const std::string_view> items, std::ostream& stream,
                     const char* separator) {
  stream << joinStrings(items, separator) << '\n';
}

void printFields(std::span<const std::string_view> items, std::ostream& console) {
  writeJoinedLine(items, console, "|");
}
