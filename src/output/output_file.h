// The output file: a write-only byte sink with a large buffer of its own, so that
// millions of small cell writes become a few large writes. It can also collect its
// bytes in memory, which lets a whole run happen without touching the disk.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

class OutputFile {
 public:
  OutputFile();
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Creates or truncates the file; false when it cannot be opened.
  bool open(const std::string& path);
  // Collects everything written in memory instead of a file.
  void openInMemory();
  bool isOpen() const { return file_ != nullptr || inMemory_; }

  void write(std::string_view bytes) {
    if (bytes.size() > kCapacity - used_) {
      writeSlow(bytes);
      return;
    }
    std::char_traits<char>::copy(buffer_.get() + used_, bytes.data(), bytes.size());
    used_ += bytes.size();
  }
  void put(char byte) {
    if (used_ == kCapacity) {
      drain();
    }
    buffer_[used_++] = byte;
  }

  // Hands everything buffered to the file; false if any write so far failed.
  bool flush();
  bool hasFailed() const { return failed_; }
  // The bytes written so far, when collecting in memory.
  const std::string& memoryText() const { return memory_; }

 private:
  static constexpr std::size_t kCapacity = std::size_t{1} << 20;

  void writeSlow(std::string_view bytes);
  void drain();
  void writeThrough(std::string_view bytes);

  std::unique_ptr<char[]> buffer_;
  std::size_t used_ = 0;
  std::FILE* file_ = nullptr;
  bool inMemory_ = false;
  bool failed_ = false;
  std::string memory_;
};
