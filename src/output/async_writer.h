// Turns millions of small writes into a few large ones: bytes collect in buffers
// that a writer thread hands to a sink while the next ones fill. Several threads
// can each fill numbered parts at once (OutputPart); the parts reach the sink in
// the order of their numbers, and memory stays bounded whatever their size.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "output/ordered_parts.h"
#include "output/sink.h"

// A buffer of output bytes on its way to the sink.
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

class AsyncWriter;

// The bytes of one numbered part of the output, filled by one thread.
class OutputPart {
 public:
  OutputPart(AsyncWriter& writer, std::size_t number);
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
  // False once any write to the sink has failed; then nothing more reaches it.
  bool healthy() const;

 private:
  void writeSlow(std::string_view bytes);
  void handOver();

  AsyncWriter& writer_;
  std::size_t number_;
  OutputBuffer buffer_;
};

class AsyncWriter {
 public:
  AsyncWriter() = default;
  ~AsyncWriter();  // stops the writer thread
  AsyncWriter(const AsyncWriter&) = delete;
  AsyncWriter& operator=(const AsyncWriter&) = delete;

  // Where the bytes go, before the first of them; without a sink every write fails.
  void setSink(Sink* sink) { sink_ = sink; }
  // Starts the writer thread; without it, every buffer is written by the thread
  // that fills it.
  void startThread();
  void stopThread();
  bool threaded() const { return thread_.joinable(); }

  // The owning thread's own writes, before or after the numbered parts.
  void write(std::string_view bytes);
  // Queues bytes without copying them; they must stay valid until flush returns.
  void writeBorrowed(std::string_view bytes);

  // Parts numbered from 0 follow everything written so far. Each number is used by
  // one OutputPart; call endParts once every part has been destroyed.
  void beginParts();
  void endParts();

  // Waits until everything written so far has reached the sink; false if any
  // write so far failed.
  bool flush();
  bool failed() const { return failed_.load(std::memory_order_relaxed); }
  // The bytes the sink has taken so far, from any thread.
  std::size_t bytesWritten() const { return written_.load(std::memory_order_relaxed); }
  // For an ending: no byte reaches the sink once this returns, and none ever will.
  void holdSink() { sinkMutex_.lock(); }

 private:
  friend class OutputPart;

  struct Piece {
    std::unique_ptr<char[]> owned;  // null for borrowed bytes
    std::string_view bytes;
  };

  // A fresh or recycled buffer.
  OutputBuffer takeBuffer();
  // From the part with this number (or, for kOwnPart, the owning thread).
  void submit(std::size_t part, OutputBuffer buffer);
  void endPart(std::size_t part);
  void submitOwnBuffer();
  // Under lock: the piece goes to the writer thread, or straight to the sink.
  void deliver(Piece piece);
  void writeNow(std::string_view bytes);
  void recycle(std::unique_ptr<char[]> bytes);
  void loop();

  static constexpr std::size_t kOwnPart = static_cast<std::size_t>(-1);
  static constexpr std::size_t kQueuedLimit = 4;  // buffers waiting for the thread
  // Buffers of parts not yet due: 16 MiB, room for the whole of a part of 65,536
  // joined rows of up to 256 bytes, so that the thread ahead rarely waits for the
  // one due to end (8 buffers cost a run of 10^7 rows 0.2-0.3 s of such waits).
  static constexpr std::size_t kHeldLimit = 32;

  Sink* sink_ = nullptr;
  std::mutex sinkMutex_;  // held while bytes go to the sink
  std::atomic<std::size_t> written_{0};
  std::atomic<bool> failed_{false};
  OutputBuffer own_;

  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Piece> queued_;  // for the writer thread, in sink order
  bool writing_ = false;      // the writer thread holds a piece
  bool stopping_ = false;
  OrderedParts<Piece> parts_;
  bool partsActive_ = false;
  std::vector<std::unique_ptr<char[]>> spare_;
  std::thread thread_;
};
