#include "tables/input_text.h"

#include <poll.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "tables/cell_array.h"
#include "text/split.h"

namespace {
constexpr std::size_t kReadBlock = std::size_t{1} << 20;

// The mapped input, for the SIGBUS handler.
std::atomic<std::uintptr_t> mappedBegin{0};
std::atomic<std::uintptr_t> mappedEnd{0};
std::atomic<int> mappedDescriptor{-1};
std::atomic<unsigned> changesNoted{0};
}  // namespace

void noteInputChangedUnderRun() {
  changesNoted.fetch_add(1, std::memory_order_relaxed);
}

unsigned inputChangesNoted() {
  return changesNoted.load(std::memory_order_relaxed);
}

InputFault faultInMappedInput(const void* address) {
  const auto at = reinterpret_cast<std::uintptr_t>(address);
  const std::uintptr_t begin = mappedBegin.load();
  if (at < begin || at >= mappedEnd.load()) {
    return InputFault::kElsewhere;
  }
  // A page the file still holds, yet could not be read, is a failed disk, not a
  // cut: reading it as zero bytes would pass them off as the input.
  struct stat now {};
  if (::fstat(mappedDescriptor.load(), &now) != 0 ||
      static_cast<std::uintmax_t>(now.st_size) > at - begin) {
    return InputFault::kReadError;
  }
  const auto pageSize = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
  void* page = reinterpret_cast<void*>(at & ~(pageSize - 1));
  if (mmap(page, pageSize, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) ==
      MAP_FAILED) {
    return InputFault::kElsewhere;
  }
  noteInputChangedUnderRun();
  return InputFault::kCut;
}

namespace {
FileIdentity identityFrom(int result, const struct stat& status) {
  if (result != 0 || !S_ISREG(status.st_mode)) {
    return {};
  }
  return FileIdentity{true, status.st_dev, status.st_ino};
}
}  // namespace

FileIdentity identityOf(int descriptor) {
  struct stat status {};
  return identityFrom(::fstat(descriptor, &status), status);
}

FileIdentity identityOf(const char* path) {
  struct stat status {};
  return identityFrom(::stat(path, &status), status);
}

bool fileChangedSince(int descriptor, const struct stat& seen) {
  struct stat now {};
  return ::fstat(descriptor, &now) != 0 || now.st_size != seen.st_size ||
         now.st_ino != seen.st_ino || now.st_mtim.tv_sec != seen.st_mtim.tv_sec ||
         now.st_mtim.tv_nsec != seen.st_mtim.tv_nsec;
}

std::unique_ptr<MappedFile> MappedFile::map(int descriptor, const struct stat& seen) {
  const auto size = static_cast<std::size_t>(seen.st_size);
  if (size == 0) {
    return nullptr;
  }
  void* mapped = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, descriptor, 0);
  if (mapped == MAP_FAILED) {
    return nullptr;
  }
  ::madvise(mapped, size, MADV_SEQUENTIAL);
  return std::unique_ptr<MappedFile>(
      new MappedFile(static_cast<const char*>(mapped), descriptor, seen));
}

MappedFile::MappedFile(const char* mapped, int descriptor, const struct stat& seen)
    : mapped_(mapped),
      size_(static_cast<std::size_t>(seen.st_size)),
      descriptor_(descriptor),
      seen_(seen),
      identity_{true, seen.st_dev, seen.st_ino},
      changesNotedBefore_(inputChangesNoted()) {
  mappedDescriptor.store(descriptor);
  mappedBegin.store(reinterpret_cast<std::uintptr_t>(mapped));
  mappedEnd.store(reinterpret_cast<std::uintptr_t>(mapped) + size_);
}

bool MappedFile::changedSinceTaken() const {
  return inputChangesNoted() != changesNotedBefore_ || fileChangedSince(descriptor_, seen_);
}

MappedFile::~MappedFile() {
  mappedEnd.store(0);
  ::munmap(const_cast<char*>(mapped_), size_);
  ::close(descriptor_);
}

void HeldText::grow(std::size_t capacity) {
  // Only the pages read into are ever touched.
  void* grown = reallocOrFail(bytes_.get(), capacity);
  [[maybe_unused]] char* moved = bytes_.release();
  bytes_.reset(static_cast<char*>(grown));
  capacity_ = capacity;
}

std::ptrdiff_t readWhenReady(int descriptor, char* into, std::size_t count) {
  for (;;) {
    const ssize_t got = ::read(descriptor, into, count);
    if (got >= 0) {
      return got;
    }
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      pollfd ready{descriptor, POLLIN, 0};
      ::poll(&ready, 1, -1);
    } else if (errno != EINTR) {
      return -1;
    }
  }
}

HeldText::Read HeldText::readFrom(int descriptor, std::size_t expectedSize, std::size_t limit) {
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
    const std::ptrdiff_t got = readWhenReady(descriptor, bytes_.get() + size_, capacity_ - size_);
    if (got < 0) {
      return Read::kFailed;
    }
    if (got == 0) {
      return Read::kWhole;
    }
    size_ += static_cast<std::size_t>(got);
  }
}

void HeldText::assign(std::string_view text) {
  size_ = 0;
  grow(text.size() + 1);
  std::memcpy(bytes_.get(), text.data(), text.size());
  size_ = text.size();
}

bool LineReader::nextFields(std::string_view& line, char separator,
                            std::vector<std::string_view>& fields) {
  if (position_ >= text_.size()) {
    return false;
  }
  position_ = splitTrimmedLineAt(text_, position_, separator, fields, line);
  return true;
}

bool LineReader::nextFieldCount(std::string_view& line, char separator, std::size_t& count) {
  if (position_ >= text_.size()) {
    return false;
  }
  position_ = fieldCountOfLineAt(text_, position_, separator, count, line);
  return true;
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
