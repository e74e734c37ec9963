// A growable array of encoded cells held in memory from malloc, so that growing it
// is a realloc: for the large arrays of big tables the system then moves page
// mappings instead of copying, and pages beyond the used part are never touched, so
// growth costs neither a copy nor memory that holds nothing.
#pragma once

#include <cstddef>
#include <cstdint>

// realloc that does what operator new does when memory runs out: the new handler
// gets its chance to end the run, and without one the allocation fails as
// bad_alloc. A large block's pages are moved, not copied. Its pages not yet
// touched are asked to be huge ones (see askForHugePages).
void* reallocOrFail(void* block, std::size_t bytes);

// From now on the memory of large blocks, and of the heap the allocator grows,
// is asked to come in huge pages where the system gives them only when asked:
// the first touch of a fresh page is what a run pays most for, and a huge page
// is touched once for 512 small ones. Called once, as the process starts.
void askForHugePages();
// Asks for huge pages over the heap grown since the last time; a caller that has
// just allocated much memory calls it before it touches the memory.
void adviseHugePagesOnHeap();

class CellArray {
 public:
  CellArray() = default;
  CellArray(const CellArray& other);
  CellArray(CellArray&& other) noexcept;
  CellArray& operator=(CellArray other) noexcept;
  ~CellArray();

  std::size_t size() const { return size_; }
  const std::uint64_t* data() const { return data_; }
  std::uint64_t operator[](std::size_t i) const { return data_[i]; }

  void push_back(std::uint64_t cell) {
    if (size_ == capacity_) {
      grow(size_ + 1);
    }
    data_[size_++] = cell;
  }
  void append(const std::uint64_t* cells, std::size_t count);
  // Room for count more cells at the end, which the caller writes before any is
  // read; null when the array would have to grow for it, which would move it.
  std::uint64_t* extendInPlace(std::size_t count) {
    if (capacity_ - size_ < count) {
      return nullptr;
    }
    std::uint64_t* const at = data_ + size_;
    size_ += count;
    return at;
  }
  void reserve(std::size_t count);
  void clear() { size_ = 0; }

 private:
  void grow(std::size_t atLeast);

  std::uint64_t* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};
