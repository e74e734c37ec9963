#include "driver/progress.h"

#include <unistd.h>

#include <sys/ioctl.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <system_error>

namespace {

const char* stageName(ProgressLine::Stage stage) {
  switch (stage) {
    case ProgressLine::Stage::kReading:
      return "reading the input";
    case ProgressLine::Stage::kParsing:
      return "parsing the tables";
    case ProgressLine::Stage::kIndexing:
      return "indexing the tables";
    case ProgressLine::Stage::kWriting:
      return "writing the result";
  }
  return "";
}

// 1234567 as "1,234,567": numbers of rows that people read at a glance.
std::string grouped(std::size_t number) {
  const std::string digits = std::to_string(number);
  std::string text;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i != 0 && (digits.size() - i) % 3 == 0) {
      text.push_back(',');
    }
    text.push_back(digits[i]);
  }
  return text;
}

std::string megabytes(double bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f MB", bytes / 1e6);
  return text;
}

}  // namespace

ProgressLine::ProgressLine(int descriptor, std::chrono::milliseconds firstDrawAfter,
                           std::chrono::milliseconds redrawEvery)
    : descriptor_(descriptor), firstDrawAfter_(firstDrawAfter), redrawEvery_(redrawEvery) {
  const char* term = std::getenv("TERM");
  if (isatty(descriptor) != 1 || (term != nullptr && std::string_view(term) == "dumb")) {
    return;
  }
  try {
    thread_ = std::thread(&ProgressLine::loop, this);
  } catch (const std::system_error&) {
    // No thread: no progress line, and nothing else changes.
  }
}

ProgressLine::~ProgressLine() {
  if (!thread_.joinable()) {
    return;
  }
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  stop_.notify_all();
  thread_.join();
  if (drawn_) {
    [[maybe_unused]] const ssize_t erased = ::write(descriptor_, "\r\x1b[K", 4);
  }
}

void ProgressLine::watch(const OutputFile* output, std::size_t copyBytes,
                         const JoinProgress* writing) {
  copyBytes_.store(copyBytes, std::memory_order_relaxed);
  output_.store(output);
  writing_.store(writing);
}

void ProgressLine::passMessage(std::string_view bytes, std::streambuf& target) {
  if (bytes.empty()) {
    return;
  }
  const std::lock_guard lock(mutex_);
  if (drawn_.exchange(false)) {
    [[maybe_unused]] const ssize_t erased = ::write(descriptor_, "\r\x1b[K", 4);
  }
  // At the terminal before the line can be drawn again.
  target.sputn(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  target.pubsync();
  // Drawn in the middle of a line, the progress would tear the message apart.
  messageLineOpen_.store(bytes.back() != '\n', std::memory_order_relaxed);
}

void ProgressLine::loop() {
  std::unique_lock lock(mutex_);
  if (stop_.wait_for(lock, firstDrawAfter_, [this] { return stopping_; })) {
    return;
  }
  do {
    resized_ = false;
    draw();
    stop_.wait_for(lock, redrawEvery_, [this] { return stopping_ || resized_; });
  } while (!stopping_);
}

void ProgressLine::redrawResized() {
  {
    const std::lock_guard lock(mutex_);
    resized_ = true;
  }
  stop_.notify_all();
}

void ProgressLine::eraseFromEnding() {
  ended_.store(true);
  if (drawn_.exchange(false)) {
    [[maybe_unused]] const ssize_t erased = ::write(descriptor_, "\r\x1b[K", 4);
  }
}

void ProgressLine::draw() {
  if (messageLineOpen_.load(std::memory_order_relaxed) || ended_.load()) {
    return;
  }
  const auto stage = static_cast<Stage>(stage_.load(std::memory_order_relaxed));
  std::string line = "\rprg: ";
  line += stageName(stage);
  const JoinProgress* writing = writing_.load();
  const OutputFile* output = output_.load();
  if (stage == Stage::kWriting && writing != nullptr && output != nullptr) {
    const auto now = std::chrono::steady_clock::now();
    if (writingSince_ == std::chrono::steady_clock::time_point{}) {
      writingSince_ = now;
    }
    const std::size_t written = output->bytesWritten();
    const std::size_t copy = copyBytes_.load(std::memory_order_relaxed);
    const double bytes = written > copy ? static_cast<double>(written - copy) : 0.0;
    const double seconds = std::chrono::duration<double>(now - writingSince_).count();
    line.append(": ").append(grouped(writing->rows.load(std::memory_order_relaxed)));
    line.append(" rows, ").append(megabytes(bytes));
    if (seconds > 0.1) {
      line.append(", ").append(megabytes(bytes / seconds)).append("/s");
    }
    const std::size_t total = writing->firstRows.load(std::memory_order_relaxed);
    if (total != 0) {
      const std::size_t done = writing->firstRowsDone.load(std::memory_order_relaxed);
      line.append(", ").append(std::to_string(100 * done / total)).append(" %");
    }
  }
  // Asked at every redraw, so a resized terminal gets a line of its new width.
  winsize size{};
  if (::ioctl(descriptor_, TIOCGWINSZ, &size) == 0 && size.ws_col > 1) {
    line.resize(std::min<std::size_t>(line.size(), size.ws_col));  // "\r" and ws_col - 1
  }
  line += "\x1b[K";
  [[maybe_unused]] const ssize_t shown = ::write(descriptor_, line.data(), line.size());
  drawn_.store(true);
}
