// The ways the splitter can take through a line, one for each instruction set it
// is built for. The widest the CPU has is taken; tests take each in turn, to hold
// every one to the plain cut.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

enum class CutPath {
  kBytes,  // a byte at a time: any machine
  kSse2,   // 16 bytes at a time: every x86-64
  kAvx2,   // 32 bytes at a time, where the CPU has AVX2
};

// The widest path this CPU has.
CutPath widestCutPath();
// The path the splitter takes from now on: one the CPU has (a wider one is taken
// as the widest it has). Returns the path it took before.
CutPath takeCutPath(CutPath path);

namespace split_paths {
void splitIntoAvx2(std::string_view line, char separator, std::vector<std::string_view>& fields);
void splitTrimmedIntoAvx2(std::string_view line, char separator,
                          std::vector<std::string_view>& fields);
std::size_t fieldCountAvx2(std::string_view line, char separator);
std::size_t splitTrimmedLineAtAvx2(std::string_view text, std::size_t start, char separator,
                                   std::vector<std::string_view>& fields, std::string_view& line);
std::size_t fieldCountOfLineAtAvx2(std::string_view text, std::size_t start, char separator,
                                   std::size_t& count, std::string_view& line);
}  // namespace split_paths
