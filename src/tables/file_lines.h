// The lines of a file read a block at a time, so that a pass over a file of any
// size holds no more than a block and its longest line. Line ends are those of
// LineReader: "\n", with a "\r" before it (or at the very end) belonging to it.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

class FileLines {
 public:
  explicit FileLines(std::FILE* file) : file_(file) {}

  // The next line, valid until the next call; false at the end or on a read
  // error (then failed() is true).
  bool next(std::string_view& line);
  bool failed() const { return failed_; }

 private:
  bool fill();

  std::FILE* file_;
  std::vector<char> block_;
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
  bool atEnd_ = false;
  bool failed_ = false;
};
