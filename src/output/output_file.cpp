#include "output/output_file.h"

#include <unistd.h>

#include <system_error>

#include "tables/cell_array.h"

namespace {

// An interruption has taken the ending over and ends the process.
[[noreturn]] void leaveTheProcessToItsEnding() {
  for (;;) {
    ::pause();
  }
}

}  // namespace

OutputFile::OutputFile() = default;

OutputFile::~OutputFile() {
  finish(Keep::kCopy);
}

void OutputFile::startWriter() {
  try {
    writer_ = std::thread(&OutputFile::writerLoop, this);
  } catch (const std::system_error&) {
    // No thread to be had: the buffers are then written as they fill.
  }
}

bool OutputFile::open(const std::string& path) {
  if (!file_.open(path)) {
    return false;
  }
  opened_ = true;
  spare_.reserve(kQueuedLimit + kEarlyLimit);
  return true;
}

void OutputFile::stopWriter() {
  if (!writer_.joinable()) {
    return;
  }
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  writer_.join();
}

bool OutputFile::finish(Keep keep) {
  int open = kOpen;
  if (!ending_.compare_exchange_strong(open, kFinishing)) {
    return false;
  }
  const bool flushed = flush();
  stopWriter();
  bool placed = flushed;
  if (opened_) {
    // A result that did not reach the file whole is not left standing: the name
    // gets the copy, as after a failure of the join, or, for an output that holds
    // no copy, what it held before.
    const bool hasCopy = copy_.data() != nullptr;
    const bool whole = keep == Keep::kEverything && flushed;
    const bool fallsBackToCopy = !whole && keep != Keep::kNothing && hasCopy;
    if (whole || (fallsBackToCopy && cutBackToCopy())) {
      placed = file_.place() && (whole || keep == Keep::kCopy);
    } else {
      file_.discard();
      placed = keep == Keep::kNothing || (keep == Keep::kCopy && !hasCopy);
    }
    opened_ = false;
  }
  ending_.store(kFinished);
  return placed;
}

bool OutputFile::cutBackToCopy() {
  if (!copyWritten()) {
    return false;
  }
  if (file_.regular()) {
    return ::ftruncate(file_.descriptor(), static_cast<off_t>(copy_.size())) == 0;
  }
  // A pipe or a device can't take bytes back; it got no more than it was given.
  return true;
}

void OutputFile::abandonOnSignal() {
  const int ending = ending_.exchange(kAbandoned);
  // A file beside its name is removed with every temporary file of the process; one
  // written in place is cut back to what the name held before it: the copy.
  if (ending == kOpen && opened_ && file_.inPlace() && file_.regular() && copyWritten()) {
    [[maybe_unused]] const int cut =
        ::ftruncate(file_.descriptor(), static_cast<off_t>(copy_.size()));
  }
}

void OutputFile::abandonKeepingCopy() {
  int open = kOpen;
  if (!ending_.compare_exchange_strong(open, kAbandoned)) {
    // Finishing allocates nothing, so it is another thread's, and it ends unless
    // it waits for a pipe nobody reads.
    if (!waitGivingWayToInterruptions([this] { return ending_.load() != kFinishing; })) {
      leaveTheProcessToItsEnding();
    }
    return;
  }
  if (!opened_) {
    return;
  }
  // The copy may still be on its way; writing it takes no memory, and the name
  // should get it.
  if (!waitGivingWayToInterruptions([this] {
        return !writer_.joinable() || copy_.data() == nullptr || copyWritten() || hasFailed();
      })) {
    leaveTheProcessToItsEnding();
  }
  // Held until the process ends: nothing is written after the copy is cut back.
  // A write in progress on a regular file ends by itself; one to a pipe may not,
  // and a pipe can't be cut back anyway.
  if (file_.regular()) {
    fileMutex_.lock();
  }
  if (copy_.data() != nullptr && cutBackToCopy() && file_.complete()) {
    file_.renameOwned();
  }
  file_.discard();
}

void OutputFile::openInMemory(std::string& collected) {
  memory_ = &collected;
}

OutputBuffer OutputFile::takeBuffer() {
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

void OutputFile::recycle(std::unique_ptr<char[]> bytes) {
  if (bytes != nullptr && spare_.size() < kQueuedLimit + kEarlyLimit) {
    spare_.push_back(std::move(bytes));
  }
}

void OutputFile::write(std::string_view bytes) {
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

void OutputFile::submitOwnBuffer() {
  if (own_.allocated() && !own_.empty()) {
    submit(kOwnPart, std::move(own_));
  }
  own_ = OutputBuffer();
}

void OutputFile::writeBorrowed(std::string_view bytes) {
  submitOwnBuffer();
  if (copy_.data() == nullptr) {
    const std::lock_guard file(fileMutex_);
    copy_ = bytes;
  }
  std::unique_lock lock(mutex_);
  deliver(Piece{nullptr, bytes}, lock);
}

void OutputFile::beginParts() {
  submitOwnBuffer();
  const std::lock_guard lock(mutex_);
  duePart_ = 0;
  partsActive_ = true;
}

void OutputFile::endParts() {
  const std::lock_guard lock(mutex_);
  partsActive_ = false;
  early_.clear();
  earlyBuffers_ = 0;
}

void OutputFile::submit(std::size_t part, OutputBuffer buffer) {
  const std::string_view bytes = buffer.view();
  Piece piece{buffer.release(), bytes};
  std::unique_lock lock(mutex_);
  if (part == kOwnPart || part == duePart_) {
    // A due part waits only for the writer; a part ahead also waits for the parts
    // before it, and holds back at most a few buffers meanwhile, so memory stays
    // bounded whatever the size of the result.
    changed_.wait(lock, [this] { return queued_.size() < kQueuedLimit || !writer_.joinable(); });
    deliver(std::move(piece), lock);
    return;
  }
  changed_.wait(lock, [this, part] { return part == duePart_ || earlyBuffers_ < kEarlyLimit; });
  if (part == duePart_) {
    deliver(std::move(piece), lock);
    return;
  }
  early_[part].pieces.push_back(std::move(piece));
  ++earlyBuffers_;
}

void OutputFile::endPart(std::size_t part) {
  std::unique_lock lock(mutex_);
  early_[part].ended = true;
  while (partsActive_) {
    const auto due = early_.find(duePart_);
    if (due == early_.end()) {
      break;
    }
    for (Piece& piece : due->second.pieces) {
      --earlyBuffers_;
      deliver(std::move(piece), lock);
    }
    due->second.pieces.clear();
    if (!due->second.ended) {
      break;
    }
    early_.erase(due);
    ++duePart_;
  }
  changed_.notify_all();
}

void OutputFile::deliver(Piece piece, std::unique_lock<std::mutex>& lock) {
  if (writer_.joinable()) {
    queued_.push_back(std::move(piece));
    changed_.notify_all();
    return;
  }
  // Without a writer thread the bytes go out at once, still in order, as the lock
  // is held.
  (void)lock;
  writeNow(piece.bytes);
  recycle(std::move(piece.owned));
}

void OutputFile::writeNow(std::string_view bytes) {
  if (failed_.load(std::memory_order_relaxed)) {
    return;
  }
  if (memory_ != nullptr) {
    memory_->append(bytes);
    return;
  }
  const std::lock_guard file(fileMutex_);
  const std::size_t written = file_.write(bytes);
  written_ += written;
  if (written != bytes.size()) {
    failed_.store(true, std::memory_order_relaxed);
  }
}

void OutputFile::writerLoop() {
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

bool OutputFile::flush() {
  submitOwnBuffer();
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return queued_.empty() && !writing_; });
  return !hasFailed();
}

OutputPart::OutputPart(OutputFile& file, std::size_t number)
    : file_(file), number_(number), buffer_(file.takeBuffer()) {}

OutputPart::~OutputPart() {
  if (!buffer_.empty()) {
    file_.submit(number_, std::move(buffer_));
  }
  file_.endPart(number_);
}

bool OutputPart::healthy() const {
  return !file_.hasFailed();
}

void OutputPart::handOver() {
  file_.submit(number_, std::move(buffer_));
  buffer_ = file_.takeBuffer();
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
