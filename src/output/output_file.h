// The output file: a write-only byte sink with large buffers of its own, so that
// millions of small cell writes become a few large writes. A full buffer is handed
// to a writer thread, which copies it to the file while the next one fills. It can
// also collect its bytes in memory, which lets a whole run happen without a file.
#pragma once

#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

class OutputFile {
 public:
  OutputFile();
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Creates or truncates the file; false when it cannot be opened.
  bool open(const std::string& path);
  // Appends everything written to collected instead of a file.
  void openInMemory(std::string& collected);

  void write(std::string_view bytes) {
    if (bytes.size() > kCapacity - used_) {
      writeSlow(bytes);
      return;
    }
    std::char_traits<char>::copy(filling_.get() + used_, bytes.data(), bytes.size());
    used_ += bytes.size();
  }
  void put(char byte) {
    if (used_ == kCapacity) {
      drain();
    }
    filling_[used_++] = byte;
  }

  // Waits until everything written so far has been handed to the system; false if
  // any write so far failed.
  bool flush();
  bool hasFailed();

 private:
  static constexpr std::size_t kCapacity = std::size_t{1} << 20;

  void writeSlow(std::string_view bytes);
  // Hands the filled buffer over and continues in the other one.
  void drain();
  void waitUntilWritten();
  void writeToFile(std::string_view bytes);
  void writerLoop();

  std::unique_ptr<char[]> filling_;
  std::size_t used_ = 0;
  std::string* memory_ = nullptr;
  std::FILE* file_ = nullptr;

  // Shared with the writer thread, under mutex_.
  std::mutex mutex_;
  std::condition_variable changed_;
  std::unique_ptr<char[]> writing_;
  std::size_t pending_ = 0;  // bytes of writing_ still to be written
  bool stopping_ = false;
  bool failed_ = false;
  std::thread writer_;
};
