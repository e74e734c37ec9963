// The line that tells a person at a terminal how far a long run has got: on
// standard error, only when it is a terminal, once the run has gone on for about a
// second, redrawn four times a second and erased when the run ends. It reads
// counters the run keeps anyway, on a thread of its own. The run's messages pass
// by it (see Console): it is cleared before each reaches the terminal and not
// drawn while a message line is unfinished, so the screen ends up showing the
// messages alone. It uses only a carriage return and erase-to-end-of-line, is cut
// to the terminal's width (it would otherwise wrap, and a carriage return only
// goes back to the start of the last row), and is not drawn where TERM=dumb.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <streambuf>
#include <string_view>
#include <thread>

#include "output/output_file.h"
#include "output/result_writer.h"

class ProgressLine {
 public:
  enum class Stage : int { kReading, kParsing, kIndexing, kWriting };

  // Draws on descriptor, when it is a terminal; otherwise does nothing at all. A
  // run draws first after a second and then four times a second; tests choose.
  explicit ProgressLine(int descriptor,
                        std::chrono::milliseconds firstDrawAfter = std::chrono::seconds(1),
                        std::chrono::milliseconds redrawEvery = std::chrono::milliseconds(250));
  ~ProgressLine();
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  void enter(Stage stage) { stage_.store(static_cast<int>(stage), std::memory_order_relaxed); }
  // What the writing stage reports: the output's bytes beyond the copy of the
  // input, and the rows written.
  void watch(const OutputFile* output, std::size_t copyBytes, const JoinProgress* writing);

  // Hands bytes of a message to target, with the line cleared first.
  void passMessage(std::string_view bytes, std::streambuf& target);
  // The terminal changed its size (SIGWINCH): the line is drawn again at once.
  void redrawResized();
  // For an ending: erases the line for good. Async-signal-safe.
  void eraseFromEnding();

 private:
  void loop();
  void draw();

  int descriptor_;
  std::chrono::milliseconds firstDrawAfter_;
  std::chrono::milliseconds redrawEvery_;
  std::atomic<int> stage_{0};
  std::atomic<const OutputFile*> output_{nullptr};
  std::atomic<const JoinProgress*> writing_{nullptr};
  std::atomic<std::size_t> copyBytes_{0};
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point writingSince_{};
  std::atomic<bool> drawn_{false};
  std::atomic<bool> ended_{false};
  std::atomic<bool> messageLineOpen_{false};
  std::mutex mutex_;
  std::condition_variable stop_;
  bool stopping_ = false;
  bool resized_ = false;
  std::thread thread_;
};
