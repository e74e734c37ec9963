// The output file: a write-only byte sink that turns millions of small writes into a
// few large ones. Bytes collect in buffers that a writer thread hands to the system
// while the next ones fill. Several threads can each fill numbered parts of the
// output at once; the parts reach the file in the order of their numbers. It can
// also collect its bytes in memory, which lets a whole run happen without a file.
//
// A regular file is written beside its name, under a temporary one, and takes the
// name only when it is finished: whatever ends the process, the name holds either
// what it held before or a finished output, never a part of one.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdio>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "output/placed_file.h"

class OutputFile;

// A buffer of output bytes on its way to the file.
class OutputBuffer {
 public:
  static constexpr std::size_t kCapacity = std::size_t{1} << 19;

  OutputBuffer() = default;
  explicit OutputBuffer(std::unique_ptr<char[]> bytes) : bytes_(std::move(bytes)) {}

  bool empty() const { return used_ == 0; }
  std::size_t room() const { return kCapacity - used_; }
  // Where the next bytes go; the caller writes at most room() of them, then calls
  // advance with their number.
  char* end() { return bytes_.get() + used_; }
  void advance(std::size_t count) { used_ += count; }
  std::string_view view() const { return std::string_view(bytes_.get(), used_); }
  std::unique_ptr<char[]> release() {
    used_ = 0;
    return std::move(bytes_);
  }
  bool allocated() const { return bytes_ != nullptr; }

 private:
  std::unique_ptr<char[]> bytes_;
  std::size_t used_ = 0;
};

// The bytes of one numbered part of the output, filled by one thread.
class OutputPart {
 public:
  OutputPart(OutputFile& file, std::size_t number);
  ~OutputPart();
  OutputPart(const OutputPart&) = delete;
  OutputPart& operator=(const OutputPart&) = delete;

  void write(std::string_view bytes) {
    if (bytes.size() > buffer_.room()) {
      writeSlow(bytes);
      return;
    }
    std::char_traits<char>::copy(buffer_.end(), bytes.data(), bytes.size());
    buffer_.advance(bytes.size());
  }
  void put(char byte) {
    if (buffer_.room() == 0) {
      handOver();
    }
    *buffer_.end() = byte;
    buffer_.advance(1);
  }
  // Room for at least count bytes at end() of the current buffer (count at most
  // OutputBuffer::kCapacity).
  OutputBuffer& reserve(std::size_t count) {
    if (count > buffer_.room()) {
      handOver();
    }
    return buffer_;
  }
  // False once any write of the output has failed; then nothing more reaches it.
  bool healthy() const;

 private:
  void writeSlow(std::string_view bytes);
  void handOver();

  OutputFile& file_;
  std::size_t number_;
  OutputBuffer buffer_;
};

class OutputFile {
 public:
  OutputFile();
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Opens the output under path, placed whole as PlacedFile places a file; false,
  // with errno telling why, when it cannot be opened.
  bool open(const std::string& path);
  // Written in place because a new file could not keep the old one's owner.
  bool inPlaceToKeepOwner() const { return file_.inPlaceToKeepOwner(); }
  // Appends everything written to collected instead of a file.
  void openInMemory(std::string& collected);

  // The owning thread's own writes, before or after the numbered parts.
  void write(std::string_view bytes);
  void put(char byte) { write(std::string_view(&byte, 1)); }
  // Queues bytes without copying them; they must stay valid until flush returns.
  void writeBorrowed(std::string_view bytes);

  // Parts numbered from 0 follow everything written so far. Each number is used by
  // one OutputPart; call endParts once every part has been destroyed.
  void beginParts();
  void endParts();

  // Waits until everything written so far has been handed to the system; false if
  // any write so far failed.
  bool flush();
  // What the name holds once the output is finished: everything written, only
  // the copy of the input (the first bytes written borrowed), or what it held before.
  enum class Keep { kEverything, kCopy, kNothing };
  // Flushes, stops the writer thread, closes the file and gives it its name. The
  // name then holds what keep asks for; when a write, the closing or the renaming
  // failed, the copy alone; and what it held before when even the copy could not be
  // written. False in those last two cases. Called once; later calls return false.
  bool finish(Keep keep);
  bool hasFailed() const { return failed_.load(std::memory_order_relaxed); }
  // The bytes the file has received so far, from any thread.
  std::size_t bytesWritten() const { return written_.load(std::memory_order_relaxed); }

  // For an interruption, from a signal handler: only async-signal-safe calls. The
  // name keeps what it held before (a file written in place is cut back to the
  // copy); a finished output that already has its name stays. The caller then
  // ends the process.
  void abandonOnSignal();
  // For a failure to get memory, from any thread: the name gets the copy, as
  // finish(Keep::kCopy) gives it, without waiting for writes still queued. The
  // caller then ends the process.
  void abandonKeepingCopy();

  // Starts the writer thread, which hands full buffers to the system while the
  // run fills the next ones; without it, every buffer is written by the thread
  // that fills it.
  void startWriter();

 private:
  friend class OutputPart;

  struct Piece {
    std::unique_ptr<char[]> owned;  // null for borrowed bytes
    std::string_view bytes;
  };
  struct Part {
    std::vector<Piece> pieces;
    bool ended = false;
  };

  // A fresh or recycled buffer.
  OutputBuffer takeBuffer();
  // From the part with this number (or, for kOwnPart, the owning thread).
  void submit(std::size_t part, OutputBuffer buffer);
  void endPart(std::size_t part);
  void submitOwnBuffer();
  // Under lock: the piece goes to the writer thread, or straight to the file.
  void deliver(Piece piece, std::unique_lock<std::mutex>& lock);
  void writeNow(std::string_view bytes);
  void recycle(std::unique_ptr<char[]> bytes);
  void writerLoop();
  void stopWriter();
  bool copyWritten() const { return written_.load() >= copy_.size(); }
  // Leaves the file holding exactly the copy; false when it does not hold all of it.
  bool cutBackToCopy();

  static constexpr std::size_t kOwnPart = static_cast<std::size_t>(-1);
  static constexpr std::size_t kQueuedLimit = 4;  // buffers waiting for the writer
  static constexpr std::size_t kEarlyLimit = 8;   // buffers of parts not yet due

  // Who ends the output: finish, or an abandon that ends the process. The first to
  // take it decides; the other leaves the file alone.
  enum Ending : int { kOpen, kFinishing, kFinished, kAbandoned };
  std::atomic<int> ending_{kOpen};
  PlacedFile file_;
  bool opened_ = false;

  std::string* memory_ = nullptr;
  // Held while bytes go to the file, so that cutting it back never races a write.
  std::mutex fileMutex_;
  std::string_view copy_;                // the first bytes queued: the input's copy
  std::atomic<std::size_t> written_{0};  // bytes the file has received
  OutputBuffer own_;
  std::atomic<bool> failed_{false};

  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Piece> queued_;  // for the writer thread, in file order
  bool writing_ = false;      // the writer thread holds a piece
  bool stopping_ = false;
  std::map<std::size_t, Part> early_;  // parts that are not due yet
  std::size_t earlyBuffers_ = 0;
  std::size_t duePart_ = 0;
  bool partsActive_ = false;
  std::vector<std::unique_ptr<char[]>> spare_;
  std::thread writer_;
};
