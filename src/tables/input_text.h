// The whole input file, held in memory for the length of a run, and the reader that
// walks it line by line. Every cell of every table is a view into this text.
#pragma once

#include <cstddef>
#include <cstdio>
#include <memory>
#include <string_view>

class InputText {
 public:
  enum class Read { kWhole, kFailed, kTooLarge };
  // Reads file to its end in large blocks; expectedSize is a hint (0: unknown).
  // Stops with kTooLarge before the text would hold more than limit bytes, so that
  // a pipe or a device that never ends can't take all the memory there is.
  Read readFrom(std::FILE* file, std::size_t expectedSize, std::size_t limit);
  void assign(std::string_view text);

  std::string_view view() const { return std::string_view(bytes_.get(), size_); }

 private:
  // Moves the text to a buffer of the given, larger capacity.
  void grow(std::size_t capacity);

  // Not zero-filled first: the reads overwrite every byte that is ever looked at.
  std::unique_ptr<char[]> bytes_;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

// Lines of a text, in order, each without its line end. A "\r" right before the
// "\n", or at the very end of the text, belongs to the line end.
class LineReader {
 public:
  explicit LineReader(std::string_view text, std::size_t position = 0)
      : text_(text), position_(position) {}

  // The next line; false once the text is exhausted.
  bool next(std::string_view& line);
  // Where the next line starts.
  std::size_t position() const { return position_; }

 private:
  std::string_view text_;
  std::size_t position_ = 0;
};
