#include "output/csv.h"

std::string csvFileName(std::string_view table) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string name;
  for (std::size_t i = 0; i < table.size(); ++i) {
    const auto byte = static_cast<unsigned char>(table[i]);
    const bool leading = i == 0 && (byte == '~' || byte == '.');
    if (leading || byte < 0x20 ||
        std::string_view("*?[]{}%/").find(static_cast<char>(byte)) != std::string_view::npos) {
      name.push_back('%');
      name.push_back(kHex[byte >> 4]);
      name.push_back(kHex[byte & 0xF]);
    } else {
      name.push_back(static_cast<char>(byte));
    }
  }
  return name + ".csv";
}
