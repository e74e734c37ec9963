#include "text/memory.h"

#include <sys/mman.h>

#include <cstdint>

namespace {
constexpr std::uintptr_t kLargePage = std::uintptr_t{1} << 21;
}

void adviseLargePages(void* begin, std::size_t bytes) {
  if (bytes < 2 * kLargePage) {
    return;
  }
  // Only whole large pages inside the array can be backed by them.
  const auto first = (reinterpret_cast<std::uintptr_t>(begin) + kLargePage - 1) & ~(kLargePage - 1);
  const auto last = (reinterpret_cast<std::uintptr_t>(begin) + bytes) & ~(kLargePage - 1);
  if (last > first) {
    madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
  }
}
