// The splitter's operations 32 bytes at a time, built for CPUs with AVX2; split.cpp
// calls them only where the CPU has it.
#include <immintrin.h>

#include "text/line_cuts.h"
#include "text/split_paths.h"

namespace {

class Avx2Block {
 public:
  static constexpr std::size_t kWidth = 32;
  explicit Avx2Block(char separator)
      : separators_(_mm256_set1_epi8(separator)),
        apostrophes_(_mm256_set1_epi8(kApostrophe)),
        backslashes_(_mm256_set1_epi8(kBackslash)),
        lineEnds_(_mm256_set1_epi8(kLineEnd)) {}
  BlockBits at(const char* bytes) const {
    const __m256i block = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes));
    const auto bits = [&block](__m256i byte) {
      return static_cast<std::uint64_t>(
          static_cast<unsigned>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(block, byte))));
    };
    return {bits(separators_), bits(apostrophes_), bits(backslashes_), bits(lineEnds_)};
  }

 private:
  __m256i separators_;
  __m256i apostrophes_;
  __m256i backslashes_;
  __m256i lineEnds_;
};

// Lines shorter than 32 bytes, most cells of a row among them, take 16 at a time.
struct CutByAvx2 {
  template <typename Cut>
  static void cut(std::string_view line, char separator, Cut&& cut) {
    if (line.size() >= Avx2Block::kWidth) {
      cutLineBy<Avx2Block>(line, separator, cut);
    } else {
      cutLineBy<Sse2Block>(line, separator, cut);
    }
  }
  template <typename Cut>
  static std::size_t cutAt(std::string_view text, std::size_t start, char separator, Cut&& cut) {
    return cutLineAt<Avx2Block>(text, start, separator, cut);
  }
};

using Avx2Cuts = LineCuts<CutByAvx2>;

}  // namespace

namespace split_paths {

void splitIntoAvx2(std::string_view line, char separator, std::vector<std::string_view>& fields) {
  Avx2Cuts::splitInto(line, separator, fields);
}

void splitTrimmedIntoAvx2(std::string_view line, char separator,
                          std::vector<std::string_view>& fields) {
  Avx2Cuts::splitTrimmedInto(line, separator, fields);
}

std::size_t fieldCountAvx2(std::string_view line, char separator) {
  return Avx2Cuts::fieldCount(line, separator);
}

std::size_t splitTrimmedLineAtAvx2(std::string_view text, std::size_t start, char separator,
                                   std::vector<std::string_view>& fields, std::string_view& line) {
  return Avx2Cuts::splitTrimmedLineAt(text, start, separator, fields, line);
}

std::size_t fieldCountOfLineAtAvx2(std::string_view text, std::size_t start, char separator,
                                   std::size_t& count, std::string_view& line) {
  return Avx2Cuts::fieldCountOfLineAt(text, start, separator, count, line);
}

}  // namespace split_paths
