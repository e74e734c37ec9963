#include "output/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <system_error>

namespace {

// Eight hex digits that no other run is likely to pick for the same name.
std::string randomPart() {
  std::random_device source;
  char digits[9];
  std::snprintf(digits, sizeof digits, "%08x", static_cast<unsigned>(source()));
  return digits;
}

// The file a name leads to, through any chain of symbolic links, even to a file
// that does not exist yet; the name itself when the links can't be followed.
std::string resolvedPath(const std::string& path) {
  std::error_code error;
  std::filesystem::path current = path;
  for (int hops = 0; hops < 40; ++hops) {
    if (!std::filesystem::is_symlink(std::filesystem::symlink_status(current, error))) {
      return current.string();
    }
    const std::filesystem::path target = std::filesystem::read_symlink(current, error);
    if (error) {
      return path;
    }
    current = target.is_absolute() ? target : current.parent_path() / target;
  }
  return path;
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
  path_ = path;
  struct stat status {};
  const bool exists = ::stat(path.c_str(), &status) == 0;
  // /dev/stdout and its kin name a descriptor the run already has, even when that
  // leads to a regular file: written in place, as a pipe is.
  const bool descriptorName = path.rfind("/dev/", 0) == 0 || path.rfind("/proc/", 0) == 0;
  regular_ = !descriptorName && (!exists || S_ISREG(status.st_mode));
  if (exists && regular_) {
    // A file the run could not write in place is not replaced either.
    if (::access(path.c_str(), W_OK) != 0) {
      return false;
    }
    mode_ = static_cast<int>(status.st_mode & 07777);
  }
  if (!regular_ || !openBeside(path)) {
    file_ = std::fopen(path.c_str(), "wb");
  }
  if (file_ == nullptr) {
    return false;
  }
  descriptor_ = fileno(file_);
  // Our own buffers already batch the writes; a second copy through stdio's would
  // only cost time. Unbuffered, every fwrite reaches the system at once, so its
  // result tells whether the bytes were written.
  std::setvbuf(file_, nullptr, _IONBF, 0);
  spare_.reserve(kQueuedLimit + kEarlyLimit);
  return true;
}

bool OutputFile::openBeside(const std::string& path) {
  const std::filesystem::path real = resolvedPath(path);
  const std::filesystem::path folder = real.parent_path();
  std::string name = ".";
  name.append(real.filename().string()).append(".").append(randomPart());
  const std::string beside =
      (folder.empty() ? std::filesystem::path(name) : folder / name).string();
  const int descriptor = ::open(beside.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (descriptor == -1) {
    return false;
  }
  // A new file gets the permissions the system gives new files; a replaced one
  // keeps its own.
  if (mode_ != -1) {
    [[maybe_unused]] const int kept = ::fchmod(descriptor, static_cast<mode_t>(mode_));
  }
  file_ = ::fdopen(descriptor, "wb");
  if (file_ == nullptr) {
    ::close(descriptor);
    ::unlink(beside.c_str());
    return false;
  }
  path_ = real.string();
  besidePath_ = beside;
  placement_ = Placement::kBeside;
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
  if (file_ == nullptr) {
    return flushed;
  }
  // A result that did not reach the file whole is not left standing: the name
  // gets the copy, as after a failure of the join.
  const bool wantsEverything = keep == Keep::kEverything;
  const bool whole = wantsEverything && flushed;
  const bool keepsCopy = whole || cutBackToCopy();
  const bool placed = closeAndPlace(keepsCopy);
  return placed && (whole || !wantsEverything);
}

bool OutputFile::cutBackToCopy() {
  if (!copyWritten()) {
    return false;
  }
  if (regular_) {
    return ::ftruncate(descriptor_, static_cast<off_t>(copy_.size())) == 0;
  }
  // A pipe or a device can't take bytes back; it got no more than it was given.
  return true;
}

bool OutputFile::closeAndPlace(bool keepsCopy) {
  // The bytes reach the disk before the name does, so that not even a power cut
  // leaves the name on a file without them.
  const bool synced = placement_ != Placement::kBeside || ::fdatasync(descriptor_) == 0;
  const bool closed = std::fclose(file_) == 0;
  file_ = nullptr;
  descriptor_ = -1;
  if (placement_ == Placement::kInPlace) {
    return keepsCopy && synced && closed;
  }
  if (!keepsCopy || !synced || !closed || std::rename(besidePath_.c_str(), path_.c_str()) != 0) {
    ::unlink(besidePath_.c_str());
    return false;
  }
  const std::string folder = std::filesystem::path(path_).parent_path().string();
  const int directory = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_CLOEXEC);
  if (directory != -1) {
    ::fsync(directory);
    ::close(directory);
  }
  return true;
}

void OutputFile::abandonOnSignal() {
  const int ending = ending_.exchange(kAbandoned);
  if (placement_ == Placement::kBeside) {
    // Once the file has its name, this finds nothing to remove.
    ::unlink(besidePath_.c_str());
    return;
  }
  if (ending == kOpen && regular_ && descriptor_ != -1 && copyWritten()) {
    [[maybe_unused]] const int cut = ::ftruncate(descriptor_, static_cast<off_t>(copy_.size()));
  }
}

void OutputFile::abandonKeepingCopy() {
  int open = kOpen;
  if (!ending_.compare_exchange_strong(open, kAbandoned) || file_ == nullptr) {
    return;
  }
  // Held until the process ends: nothing is written after the copy is cut back.
  // A write in progress on a regular file ends by itself; one to a pipe may not,
  // and a pipe can't be cut back anyway.
  if (regular_) {
    fileMutex_.lock();
  }
  closeAndPlace(cutBackToCopy());
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
