#include "text/string_helpers.h"

#include <algorithm>
#include <vector>

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

std::string escapedForConsole(std::string_view text) {
  static constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string shown;
  shown.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (text.substr(i, kByteOrderMark.size()) == kByteOrderMark) {
      shown.append("<BOM>");
      i += kByteOrderMark.size() - 1;
    } else if (byte == '\t') {
      shown.append("\\t");
    } else if (byte == '\r') {
      shown.append("\\r");
    } else if (byte == '\n') {
      shown.append("\\n");
    } else if (byte < 0x20 || byte == 0x7F) {
      shown.append("\\x").push_back(kDigits[byte >> 4]);
      shown.push_back(kDigits[byte & 0xF]);
    } else {
      shown.push_back(static_cast<char>(byte));
    }
  }
  return shown;
}

bool isUtf8(std::string_view text) {
  std::size_t i = 0;
  const auto at = [&text](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const auto continuation = [&](std::size_t k) {
    return k < text.size() && (at(k) & 0xC0) == 0x80;
  };
  while (i < text.size()) {
    const unsigned char lead = at(i);
    if (lead < 0x80) {
      ++i;
      continue;
    }
    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;  // the range of the byte after the lead
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      low = lead == 0xE0 ? 0xA0 : 0x80;
      high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      low = lead == 0xF0 ? 0x90 : 0x80;
      high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
      return false;
    }
    if (i + 1 >= text.size() || at(i + 1) < low || at(i + 1) > high) {
      return false;
    }
    for (std::size_t k = 2; k < length; ++k) {
      if (!continuation(i + k)) {
        return false;
      }
    }
    i += length;
  }
  return true;
}

std::size_t editDistance(std::string_view a, std::string_view b, std::size_t most) {
  if (a.size() > b.size()) {
    std::swap(a, b);
  }
  if (b.size() - a.size() > most) {
    return most + 1;
  }
  // One row of the distances at a time, only the band within most of the diagonal.
  constexpr std::size_t kFar = static_cast<std::size_t>(-1) / 2;
  std::vector<std::size_t> row(a.size() + 1);
  for (std::size_t i = 0; i <= a.size(); ++i) {
    row[i] = i <= most ? i : kFar;
  }
  for (std::size_t j = 1; j <= b.size(); ++j) {
    const std::size_t from = j > most ? j - most : 1;
    const std::size_t to = std::min(a.size(), j + most);
    std::size_t diagonal = row[from - 1];
    row[from - 1] = from - 1 == 0 && j <= most ? j : kFar;
    std::size_t best = row[from - 1];
    for (std::size_t i = from; i <= to; ++i) {
      const std::size_t above = row[i];
      row[i] = std::min({above + 1, row[i - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
      best = std::min(best, row[i]);
    }
    if (to < a.size()) {
      row[to + 1] = kFar;
    }
    if (best > most) {
      return most + 1;
    }
  }
  return std::min(row[a.size()], most + 1);
}
