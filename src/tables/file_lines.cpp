#include "tables/file_lines.h"

#include <cstring>

#include "tables/input_text.h"

namespace {
constexpr std::size_t kBlock = std::size_t{1} << 20;
}

bool FileLines::fill() {
  // The part of a line already read moves to the front; the block grows only for
  // a line longer than it.
  const std::size_t kept = end_ - begin_;
  if (kept != 0 && begin_ != 0) {
    std::memmove(block_.data(), block_.data() + begin_, kept);
  }
  begin_ = 0;
  end_ = kept;
  if (block_.size() < kept + kBlock) {
    block_.resize(kept + kBlock);
  }
  const std::ptrdiff_t got =
      readWhenReady(fileno(file_), block_.data() + end_, block_.size() - end_);
  if (got <= 0) {
    atEnd_ = true;
    failed_ = got < 0;
    return false;
  }
  end_ += static_cast<std::size_t>(got);
  return true;
}

bool FileLines::next(std::string_view& line) {
  for (std::size_t searched = begin_;;) {
    const char* found =
        end_ > searched
            ? static_cast<const char*>(std::memchr(block_.data() + searched, '\n', end_ - searched))
            : nullptr;
    if (found != nullptr) {
      const auto lineEnd = static_cast<std::size_t>(found - block_.data());
      line = std::string_view(block_.data() + begin_, lineEnd - begin_);
      begin_ = lineEnd + 1;
      break;
    }
    const std::size_t offset = end_ - begin_;
    if (atEnd_ || !fill()) {
      if (end_ == begin_) {
        return false;
      }
      line = std::string_view(block_.data() + begin_, end_ - begin_);
      begin_ = end_;
      break;
    }
    searched = offset;
  }
  if (!line.empty() && line.back() == '\r') {
    line.remove_suffix(1);
  }
  return true;
}
