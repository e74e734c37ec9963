// What a terminal shows, for tests of what reaches one.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

// What a terminal shows once bytes with carriage returns, line feeds and
// erase-to-end-of-line have reached it, line by line.
inline std::string screen(const std::string& bytes) {
  std::vector<std::string> lines(1);
  std::size_t column = 0;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (bytes.compare(i, 3, "\x1b[K") == 0) {
      lines.back().resize(std::min(lines.back().size(), column));
      i += 2;
    } else if (bytes[i] == '\r') {
      column = 0;
    } else if (bytes[i] == '\n') {
      lines.emplace_back();
      column = 0;
    } else {
      if (column == lines.back().size()) {
        lines.back().push_back(bytes[i]);
      } else {
        lines.back()[column] = bytes[i];
      }
      ++column;
    }
  }
  std::string shown;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    shown.append(i == 0 ? "" : "\n").append(lines[i]);
  }
  return shown;
}
