#include "tables/cell_array.h"

#include <algorithm>
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

void* reallocOrFail(void* block, std::size_t bytes) {
  for (;;) {
    // A failed realloc leaves block as it was, to be tried again.
    if (void* grown = std::realloc(block, bytes)) {
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
