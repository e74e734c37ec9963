// A table in the notation's own style, ", " between its cells.
#pragma once

#include <string>

// A table of rows rows (id, v), ids step apart, each cell its own: a text rewritten
// into other rows still joins in a moment.
inline std::string spacedTable(const std::string& name, int rows, int step = 1) {
  std::string text = name + "(id, v)\n";
  for (int i = 0; i < rows * step; i += step) {
    text.append(std::to_string(i)).append(", v ").append(std::to_string(i)).append("\n");
  }
  return text;
}
