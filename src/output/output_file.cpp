#include "output/output_file.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <system_error>

namespace {
// The output file of the run, for abandonRun.
std::atomic<OutputFile*> runOutput{nullptr};
}  // namespace

OutputFile::OutputFile() = default;

OutputFile::~OutputFile() {
  close();
}

void OutputFile::startWriter() {
  try {
    writer_ = std::thread(&OutputFile::writerLoop, this);
  } catch (const std::system_error&) {
    // No thread to be had: the buffers are then written as they fill.
  }
}

bool OutputFile::open(const std::string& path) {
  file_ = std::fopen(path.c_str(), "wb");
  if (file_ == nullptr) {
    return false;
  }
  // Our own buffers already batch the writes; a second copy through stdio's would
  // only cost time. Unbuffered, every fwrite reaches the system at once, so its
  // result tells whether the bytes were written.
  std::setvbuf(file_, nullptr, _IONBF, 0);
  spare_.reserve(kQueuedLimit + kEarlyLimit);
  runOutput.store(this);
  return true;
}

bool OutputFile::close() {
  const bool flushed = flush();
  if (writer_.joinable()) {
    {
      const std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    changed_.notify_all();
    writer_.join();
  }
  if (file_ == nullptr) {
    return flushed;
  }
  OutputFile* self = this;
  runOutput.compare_exchange_strong(self, nullptr);
  const std::lock_guard file(fileMutex_);
  const bool closed = std::fclose(file_) == 0;
  file_ = nullptr;
  return flushed && closed;
}

void OutputFile::cutBackToCopy() {
  fileMutex_.lock();  // held until the process ends: nothing is written after
  abandoned_ = true;
  if (file_ == nullptr) {
    return;
  }
  const int descriptor = fileno(file_);
  std::size_t written = written_.load();
  while (written < copy_.size()) {
    const ssize_t got = ::write(descriptor, copy_.data() + written, copy_.size() - written);
    if (got <= 0) {
      break;
    }
    written += static_cast<std::size_t>(got);
  }
  if (written >= copy_.size()) {
    [[maybe_unused]] const int cut = ftruncate(descriptor, static_cast<off_t>(copy_.size()));
  }
}

void abandonRun(int status, const char* message) {
  if (OutputFile* output = runOutput.load()) {
    output->cutBackToCopy();
  }
  if (message != nullptr) {
    std::fflush(stdout);
    [[maybe_unused]] const ssize_t shown = ::write(STDOUT_FILENO, message, std::strlen(message));
  }
  std::_Exit(status);
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
  return OutputBuffer(std::make_unique_for_overwrite<char[]>(OutputBuffer::kCapacity));
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
  if (abandoned_) {
    return;
  }
  const std::size_t written =
      file_ == nullptr ? 0 : std::fwrite(bytes.data(), 1, bytes.size(), file_);
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
