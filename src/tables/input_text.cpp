#include "tables/input_text.h"

#include <algorithm>
#include <cstring>

namespace {
constexpr std::size_t kReadBlock = std::size_t{1} << 20;
}

void InputText::grow(std::size_t capacity) {
  auto grown = std::make_unique_for_overwrite<char[]>(capacity);
  if (size_ != 0) {
    std::memcpy(grown.get(), bytes_.get(), size_);
  }
  bytes_ = std::move(grown);
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
