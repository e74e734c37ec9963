#include "output/output_file.h"

OutputFile::OutputFile() : filling_(std::make_unique_for_overwrite<char[]>(kCapacity)) {}

OutputFile::~OutputFile() {
  flush();
  if (writer_.joinable()) {
    {
      const std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    changed_.notify_all();
    writer_.join();
  }
  if (file_ != nullptr) {
    std::fclose(file_);
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
  writing_ = std::make_unique_for_overwrite<char[]>(kCapacity);
  writer_ = std::thread(&OutputFile::writerLoop, this);
  return true;
}

void OutputFile::openInMemory(std::string& collected) {
  memory_ = &collected;
}

void OutputFile::writeSlow(std::string_view bytes) {
  drain();
  if (bytes.size() < kCapacity) {
    write(bytes);
    return;
  }
  waitUntilWritten();
  writeToFile(bytes);
}

void OutputFile::drain() {
  if (used_ == 0) {
    return;
  }
  if (!writer_.joinable()) {
    // In memory, or never opened: writeToFile appends or records the failure.
    writeToFile(std::string_view(filling_.get(), used_));
    used_ = 0;
    return;
  }
  waitUntilWritten();
  {
    const std::lock_guard lock(mutex_);
    std::swap(filling_, writing_);
    pending_ = used_;
  }
  changed_.notify_all();
  used_ = 0;
}

void OutputFile::waitUntilWritten() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return pending_ == 0; });
}

void OutputFile::writeToFile(std::string_view bytes) {
  if (memory_ != nullptr) {
    memory_->append(bytes);
    return;
  }
  const bool written =
      file_ != nullptr && std::fwrite(bytes.data(), 1, bytes.size(), file_) == bytes.size();
  if (!written) {
    const std::lock_guard lock(mutex_);
    failed_ = true;
  }
}

void OutputFile::writerLoop() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return pending_ != 0 || stopping_; });
    if (pending_ == 0) {
      return;
    }
    const std::string_view bytes(writing_.get(), pending_);
    lock.unlock();
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file_) == bytes.size();
    lock.lock();
    failed_ = failed_ || !written;
    pending_ = 0;
    changed_.notify_all();
  }
}

bool OutputFile::flush() {
  drain();
  waitUntilWritten();
  return !hasFailed();
}

bool OutputFile::hasFailed() {
  const std::lock_guard lock(mutex_);
  return failed_;
}
