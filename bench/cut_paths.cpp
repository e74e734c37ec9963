// Times each way the splitter can take through the lines of a file: its data lines
// cut and trimmed, as the parser and the index read them, and counted, as the check
// counts them. Build with `cmake --build build --target cut_paths_bench`, then run
// `build/cut_paths_bench FILE`.
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "text/split.h"
#include "text/split_paths.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: cut_paths_bench FILE\n");
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::string_view> lines;
  for (std::size_t at = 0; at < text.size();) {
    std::size_t end = text.find('\n', at);
    end = end == std::string::npos ? text.size() : end;
    lines.emplace_back(text.data() + at, end - at);
    at = end + 1;
  }
  const char* const names[] = {"bytes", "sse2", "avx2"};
  std::vector<std::string_view> fields;
  for (int round = 0; round < 3; ++round) {
    for (const CutPath path : {CutPath::kBytes, CutPath::kSse2, CutPath::kAvx2}) {
      if (path > widestCutPath()) {
        continue;
      }
      takeCutPath(path);
      const auto begun = std::chrono::steady_clock::now();
      std::size_t cells = 0;
      for (const std::string_view line : lines) {
        splitTrimmedInto(line, ',', fields);
        cells += fields.size() + fieldCount(line, ',');
      }
      const std::chrono::duration<double> took = std::chrono::steady_clock::now() - begun;
      std::printf("round %d, %s: %.3f s, %zu cells\n", round, names[static_cast<int>(path)],
                  took.count(), cells);
    }
  }
  return 0;
}
