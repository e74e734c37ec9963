// The one owner of what reaches standard output and standard error. It routes the
// run's messages (to standard error when standard output carries the output),
// leaves out the lines of a run that goes well in quiet mode, leaves out warnings
// and hints when standard error is the output file, holds warnings and hints back
// while a message line is open ("Joining the tables: ..."), and draws the progress
// line on a terminal, cleared before anything else reaches it.
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <ostream>
#include <streambuf>
#include <string>
#include <string_view>

#include "driver/progress.h"

// A console stream's bytes straight to a descriptor, with no buffer of its own:
// every message reaches it as it is written, even one set not to block.
class DescriptorBuffer : public std::streambuf {
 public:
  explicit DescriptorBuffer(int descriptor) : descriptor_(descriptor) {}

 protected:
  int overflow(int byte) override;
  std::streamsize xsputn(const char* bytes, std::streamsize count) override;

 private:
  int descriptor_;
};

class Console {
 public:
  struct Terminal {
    // Standard output and error are one terminal: what standard error says after
    // a message without a line end ("Incorrect header") starts a line of its own.
    bool shared = false;
    // Where the progress line is drawn, when it is a terminal; -1: nowhere.
    int progressDescriptor = -1;
    std::chrono::milliseconds firstDrawAfter{1000};
    std::chrono::milliseconds redrawEvery{250};
  };

  // out and err take the bytes of standard output and standard error.
  Console(std::streambuf& out, std::streambuf& err, Terminal terminal);
  Console(std::streambuf& out, std::streambuf& err) : Console(out, err, Terminal{}) {}
  ~Console();
  Console(const Console&) = delete;
  Console& operator=(const Console&) = delete;

  void setQuiet() { quiet_ = true; }
  bool quiet() const { return quiet_; }
  // Standard output carries the output file: messages go to standard error.
  void sendMessagesToStandardError() { messagesToError_.store(true); }
  // Standard error is the output file: no warning or hint goes into it.
  void dropDiagnostics() { diagnosticsDropped_ = true; }

  // A line of a run that goes well; quiet mode leaves it out.
  void tell(std::string_view text);
  // A failure's own message, always shown.
  void fail(std::string_view text);
  // The same as streams, for the parsers that write their own failures.
  std::ostream& failures() { return failures_; }
  // Warnings, hints and stats: lines that start with "prg: ".
  std::ostream& diagnostics() { return diagnostics_; }
  void hint(std::string_view text);

  // The progress line, when one is drawn.
  ProgressLine* progress() { return progress_.get(); }
  // From the thread that takes the process's signals, on SIGWINCH.
  void terminalResized() const {
    if (progress_ != nullptr) {
      progress_->redrawResized();
    }
  }

  // Everything held back is said, and the progress line erased.
  void finish();

  // For an ending, from a signal handler or any thread: async-signal-safe. Erases
  // the progress line, starts a line when asked and a message line is open, then
  // says message (among the messages) and hint (on standard error); either may be
  // empty.
  void sayInEnding(std::string_view message, std::string_view hint, bool startLine) const;

 private:
  class Forward : public std::streambuf {
   public:
    Forward(Console& console, void (Console::*to)(std::string_view)) : console_(console), to_(to) {}

   protected:
    int overflow(int byte) override;
    std::streamsize xsputn(const char* bytes, std::streamsize count) override;

   private:
    Console& console_;
    void (Console::*to_)(std::string_view);
  };

  std::streambuf& messageTarget() const { return messagesToError_.load() ? err_ : out_; }
  void toMessages(std::string_view bytes);
  void toDiagnostics(std::string_view bytes);
  void passHeld(std::string_view before);
  void pass(std::string_view bytes, std::streambuf& target);

  std::streambuf& out_;
  std::streambuf& err_;
  Terminal terminal_;
  bool quiet_ = false;
  std::atomic<bool> messagesToError_{false};
  bool diagnosticsDropped_ = false;
  std::atomic<bool> messageLineOpen_{false};
  std::string held_;  // diagnostics said while a message line was open
  Forward failuresBuffer_{*this, &Console::toMessages};
  Forward diagnosticsBuffer_{*this, &Console::toDiagnostics};
  std::ostream failures_{&failuresBuffer_};
  std::ostream diagnostics_{&diagnosticsBuffer_};
  std::unique_ptr<ProgressLine> progress_;
};
