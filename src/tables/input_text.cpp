#include "tables/input_text.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "tables/cell_array.h"

namespace {
constexpr std::size_t kReadBlock = std::size_t{1} << 20;

// The mapped input, for the SIGBUS handler.
std::atomic<std::uintptr_t> mappedBegin{0};
std::atomic<std::uintptr_t> mappedEnd{0};
std::atomic<bool> pageCovered{false};
}  // namespace

bool coverCutInputPage(const void* address) {
  const auto at = reinterpret_cast<std::uintptr_t>(address);
  if (at < mappedBegin.load() || at >= mappedEnd.load()) {
    return false;
  }
  const auto pageSize = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
  void* page = reinterpret_cast<void*>(at & ~(pageSize - 1));
  if (mmap(page, pageSize, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) ==
      MAP_FAILED) {
    return false;
  }
  pageCovered.store(true);
  return true;
}

bool fileChangedSince(int descriptor, const struct stat& seen) {
  struct stat now {};
  return ::fstat(descriptor, &now) != 0 || now.st_size != seen.st_size ||
         now.st_ino != seen.st_ino || now.st_mtim.tv_sec != seen.st_mtim.tv_sec ||
         now.st_mtim.tv_nsec != seen.st_mtim.tv_nsec;
}

bool InputText::map(int descriptor, const struct stat& seen) {
  const auto size = static_cast<std::size_t>(seen.st_size);
  if (size == 0) {
    return false;
  }
  void* mapped = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, descriptor, 0);
  if (mapped == MAP_FAILED) {
    return false;
  }
  ::madvise(mapped, size, MADV_SEQUENTIAL);
  mapped_ = static_cast<const char*>(mapped);
  size_ = size;
  descriptor_ = descriptor;
  seen_ = seen;
  mappedBegin.store(reinterpret_cast<std::uintptr_t>(mapped));
  mappedEnd.store(reinterpret_cast<std::uintptr_t>(mapped) + size);
  return true;
}

bool InputText::changedSinceMapped() const {
  return mapped_ != nullptr && (pageCovered.load() || fileChangedSince(descriptor_, seen_));
}

InputText::~InputText() {
  if (mapped_ != nullptr) {
    mappedEnd.store(0);
    ::munmap(const_cast<char*>(mapped_), size_);
    ::close(descriptor_);
  }
}

void InputText::grow(std::size_t capacity) {
  // Only the pages read into are ever touched.
  void* grown = reallocOrFail(bytes_.get(), capacity);
  [[maybe_unused]] char* moved = bytes_.release();
  bytes_.reset(static_cast<char*>(grown));
  capacity_ = capacity;
}

InputText::Read InputText::readFrom(std::FILE* file, std::size_t expectedSize, std::size_t limit) {
  size_ = 0;
  if (expectedSize > limit) {
    return Read::kTooLarge;
  }
  // One byte more than expected, so that a file of the expected size ends in a
  // short read instead of another round.
  grow(expectedSize + 1);
  for (;;) {
    if (size_ == capacity_) {
      if (capacity_ > limit) {
        return Read::kTooLarge;
      }
      grow(std::min(std::max(kReadBlock, capacity_ * 2), limit + 1));
    }
    const std::size_t room = capacity_ - size_;
    const std::size_t got = std::fread(bytes_.get() + size_, 1, room, file);
    size_ += got;
    if (got < room) {
      return std::ferror(file) == 0 ? Read::kWhole : Read::kFailed;
    }
  }
}

void InputText::assign(std::string_view text) {
  size_ = 0;
  grow(text.size() + 1);
  std::memcpy(bytes_.get(), text.data(), text.size());
  size_ = text.size();
}

bool LineReader::next(std::string_view& line) {
  if (position_ >= text_.size()) {
    return false;
  }
  line = text_.substr(position_);
  const std::size_t lineEnd = line.find('\n');
  if (lineEnd == std::string_view::npos) {
    position_ = text_.size();
  } else {
    line = line.substr(0, lineEnd);
    position_ += lineEnd + 1;
  }
  if (!line.empty() && line.back() == '\r') {
    line.remove_suffix(1);
  }
  return true;
}
