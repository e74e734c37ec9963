// How the cells of a row are written out, as an output format hands it to the
// parts of the join that lay out payloads ahead of time: the byte between cells,
// and what each cell becomes. Without functions a cell is written as its bytes.
#pragma once

#include <cstddef>
#include <string_view>

struct CellEncoder {
  char separator = ',';
  std::size_t (*length)(std::string_view cell) = nullptr;
  // Writes cell at to, room for length(cell) bytes; returns the end.
  char* (*write)(char* to, std::string_view cell) = nullptr;

  std::size_t lengthOf(std::string_view cell) const {
    return length == nullptr ? cell.size() : length(cell);
  }
  char* writeTo(char* to, std::string_view cell) const {
    if (write != nullptr) {
      return write(to, cell);
    }
    for (const char byte : cell) {
      *to++ = byte;
    }
    return to;
  }
};
