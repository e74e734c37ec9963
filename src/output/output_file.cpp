#include "output/output_file.h"

OutputFile::OutputFile() : buffer_(new char[kCapacity]) {}

OutputFile::~OutputFile() {
  flush();
  if (file_ != nullptr) {
    std::fclose(file_);
  }
}

bool OutputFile::open(const std::string& path) {
  file_ = std::fopen(path.c_str(), "wb");
  if (file_ == nullptr) {
    return false;
  }
  // Our own buffer already batches the writes; a second copy through stdio's would
  // only cost time.
  std::setvbuf(file_, nullptr, _IONBF, 0);
  return true;
}

void OutputFile::openInMemory() {
  inMemory_ = true;
}

void OutputFile::writeSlow(std::string_view bytes) {
  drain();
  if (bytes.size() >= kCapacity) {
    writeThrough(bytes);
    return;
  }
  write(bytes);
}

void OutputFile::drain() {
  writeThrough(std::string_view(buffer_.get(), used_));
  used_ = 0;
}

void OutputFile::writeThrough(std::string_view bytes) {
  if (bytes.empty()) {
    return;
  }
  if (inMemory_) {
    memory_.append(bytes);
    return;
  }
  if (file_ == nullptr || failed_) {
    failed_ = true;
    return;
  }
  if (std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size()) {
    failed_ = true;
  }
}

bool OutputFile::flush() {
  drain();
  if (file_ != nullptr && std::fflush(file_) != 0) {
    failed_ = true;
  }
  return !failed_;
}
