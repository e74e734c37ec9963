#include "tables/cell_array.h"

#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

CellArray::CellArray(const CellArray& other) {
  reserve(other.size_);
  if (other.size_ != 0) {
    std::memcpy(data_, other.data_, other.size_ * sizeof(std::uint64_t));
  }
  size_ = other.size_;
}

CellArray::CellArray(CellArray&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      capacity_(std::exchange(other.capacity_, 0)) {}

CellArray& CellArray::operator=(CellArray other) noexcept {
  std::swap(data_, other.data_);
  std::swap(size_, other.size_);
  std::swap(capacity_, other.capacity_);
  return *this;
}

CellArray::~CellArray() {
  std::free(data_);
}

namespace {

constexpr std::uintptr_t kHugePage = std::uintptr_t{2} << 20;
// Blocks from this size get memory of their own, outside the heap.
constexpr std::size_t kOwnMemoryFrom = std::size_t{32} << 20;

// The heap below this is asked for huge pages already; 0 until askForHugePages.
std::atomic<std::uintptr_t> heapAdvised{0};

void adviseHugePages(std::uintptr_t begin, std::uintptr_t end) {
  begin = (begin + kHugePage - 1) & ~(kHugePage - 1);
  end &= ~(kHugePage - 1);
  if (begin < end) {
    ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
  }
}

// The whole mapping of a block of memory of its own, to its pages at either end:
// one of other settings beside it would keep it from growing where it lies.
void adviseHugePagesOnMapping(void* block) {
  const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
  const auto begin = reinterpret_cast<std::uintptr_t>(block) & ~(page - 1);
  const std::uintptr_t end =
      (reinterpret_cast<std::uintptr_t>(block) + malloc_usable_size(block) + page - 1) &
      ~(page - 1);
  ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}

}  // namespace

void askForHugePages() {
  heapAdvised.store(reinterpret_cast<std::uintptr_t>(::sbrk(0)));
}

void adviseHugePagesOnHeap() {
  std::uintptr_t advised = heapAdvised.load(std::memory_order_relaxed);
  if (advised == 0) {
    return;
  }
  const auto top = reinterpret_cast<std::uintptr_t>(::sbrk(0));
  if (top >= advised + kHugePage && heapAdvised.compare_exchange_strong(advised, top)) {
    adviseHugePages(advised, top);
  }
}

void* reallocOrFail(void* block, std::size_t bytes) {
  const bool advising = heapAdvised.load(std::memory_order_relaxed) != 0;
  for (;;) {
    // A failed realloc leaves block as it was, to be tried again.
    if (void* grown = std::realloc(block, bytes)) {
      if (advising && bytes >= kOwnMemoryFrom) {
        adviseHugePagesOnMapping(grown);
      }
      adviseHugePagesOnHeap();
      return grown;
    }
    const std::new_handler handler = std::get_new_handler();
    if (handler == nullptr) {
      throw std::bad_alloc();
    }
    handler();
  }
}

void CellArray::reserve(std::size_t count) {
  if (count <= capacity_) {
    return;
  }
  data_ = static_cast<std::uint64_t*>(reallocOrFail(data_, count * sizeof(std::uint64_t)));
  capacity_ = count;
}

void CellArray::grow(std::size_t atLeast) {
  reserve(std::max<std::size_t>({atLeast, 2 * capacity_, 16}));
}

void CellArray::append(const std::uint64_t* cells, std::size_t count) {
  if (count == 0) {
    return;
  }
  if (size_ + count > capacity_) {
    grow(size_ + count);
  }
  std::memcpy(data_ + size_, cells, count * sizeof(std::uint64_t));
  size_ += count;
}
