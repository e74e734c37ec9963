#include "output/async_writer.h"

#include <system_error>

#include "tables/cell_array.h"

AsyncWriter::~AsyncWriter() {
  stopThread();
}

void AsyncWriter::startThread() {
  spare_.reserve(kQueuedLimit + kHeldLimit);
  try {
    thread_ = std::thread(&AsyncWriter::loop, this);
  } catch (const std::system_error&) {
    // No thread to be had: the buffers are then written as they fill.
  }
}

void AsyncWriter::stopThread() {
  if (!thread_.joinable()) {
    return;
  }
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

OutputBuffer AsyncWriter::takeBuffer() {
  {
    const std::lock_guard lock(mutex_);
    if (!spare_.empty()) {
      OutputBuffer buffer(std::move(spare_.back()));
      spare_.pop_back();
      return buffer;
    }
  }
  OutputBuffer fresh(std::make_unique_for_overwrite<char[]>(OutputBuffer::kCapacity));
  adviseHugePagesOnHeap();
  return fresh;
}

void AsyncWriter::recycle(std::unique_ptr<char[]> bytes) {
  if (bytes != nullptr && spare_.size() < kQueuedLimit + kHeldLimit) {
    spare_.push_back(std::move(bytes));
  }
}

void AsyncWriter::write(std::string_view bytes) {
  while (!bytes.empty()) {
    if (!own_.allocated()) {
      own_ = takeBuffer();
    }
    const std::size_t count = std::min(bytes.size(), own_.room());
    std::char_traits<char>::copy(own_.end(), bytes.data(), count);
    own_.advance(count);
    bytes.remove_prefix(count);
    if (own_.room() == 0) {
      submitOwnBuffer();
    }
  }
}

void AsyncWriter::submitOwnBuffer() {
  if (own_.allocated() && !own_.empty()) {
    submit(kOwnPart, std::move(own_));
  }
  own_ = OutputBuffer();
}

void AsyncWriter::writeBorrowed(std::string_view bytes) {
  submitOwnBuffer();
  const std::lock_guard lock(mutex_);
  deliver(Piece{nullptr, bytes});
}

void AsyncWriter::beginParts() {
  submitOwnBuffer();
  const std::lock_guard lock(mutex_);
  parts_ = OrderedParts<Piece>();
  partsActive_ = true;
}

void AsyncWriter::endParts() {
  const std::lock_guard lock(mutex_);
  partsActive_ = false;
  parts_ = OrderedParts<Piece>();
}

void AsyncWriter::submit(std::size_t part, OutputBuffer buffer) {
  const std::string_view bytes = buffer.view();
  Piece piece{buffer.release(), bytes};
  std::unique_lock lock(mutex_);
  if (part == kOwnPart || parts_.due(part)) {
    // A due part waits only for the writer; a part ahead also waits for the parts
    // before it, and holds back at most a few buffers meanwhile.
    changed_.wait(lock, [this] { return queued_.size() < kQueuedLimit || !threaded(); });
    deliver(std::move(piece));
    return;
  }
  changed_.wait(lock, [this, part] { return parts_.due(part) || parts_.held() < kHeldLimit; });
  if (parts_.due(part)) {
    deliver(std::move(piece));
    return;
  }
  parts_.hold(part, std::move(piece));
}

void AsyncWriter::endPart(std::size_t part) {
  const std::lock_guard lock(mutex_);
  if (partsActive_) {
    parts_.end(part, [this](Piece piece) { deliver(std::move(piece)); });
  }
  changed_.notify_all();
}

void AsyncWriter::deliver(Piece piece) {
  if (threaded()) {
    queued_.push_back(std::move(piece));
    changed_.notify_all();
    return;
  }
  // Without a writer thread the bytes go out at once, still in order, as the
  // caller holds the lock.
  writeNow(piece.bytes);
  recycle(std::move(piece.owned));
}

void AsyncWriter::writeNow(std::string_view bytes) {
  if (failed()) {
    return;
  }
  if (sink_ == nullptr) {
    failed_.store(true, std::memory_order_relaxed);
    return;
  }
  const std::lock_guard lock(sinkMutex_);
  const std::size_t written = sink_->write(bytes);
  written_ += written;
  if (written != bytes.size()) {
    failed_.store(true, std::memory_order_relaxed);
  }
}

void AsyncWriter::loop() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return !queued_.empty() || stopping_; });
    if (queued_.empty()) {
      return;
    }
    Piece piece = std::move(queued_.front());
    queued_.pop_front();
    writing_ = true;
    changed_.notify_all();
    lock.unlock();
    writeNow(piece.bytes);
    lock.lock();
    writing_ = false;
    recycle(std::move(piece.owned));
    changed_.notify_all();
  }
}

bool AsyncWriter::flush() {
  submitOwnBuffer();
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return queued_.empty() && !writing_; });
  return !failed();
}

OutputPart::OutputPart(AsyncWriter& writer, std::size_t number)
    : writer_(writer), number_(number), buffer_(writer.takeBuffer()) {}

OutputPart::~OutputPart() {
  if (!buffer_.empty()) {
    writer_.submit(number_, std::move(buffer_));
  }
  writer_.endPart(number_);
}

bool OutputPart::healthy() const {
  return !writer_.failed();
}

void OutputPart::handOver() {
  writer_.submit(number_, std::move(buffer_));
  buffer_ = writer_.takeBuffer();
}

void OutputPart::writeSlow(std::string_view bytes) {
  while (!bytes.empty()) {
    if (buffer_.room() == 0) {
      handOver();
    }
    const std::size_t count = std::min(bytes.size(), buffer_.room());
    std::char_traits<char>::copy(buffer_.end(), bytes.data(), count);
    buffer_.advance(count);
    bytes.remove_prefix(count);
  }
}
