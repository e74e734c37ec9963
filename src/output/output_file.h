// The output of a run: a placed file (or another sink) written through an
// asynchronous writer, and what its name holds once the run ends: everything
// written, only the copy of the input, or what it held before.
#pragma once

#include <atomic>
#include <cstddef>
#include <string>
#include <string_view>

#include "output/async_writer.h"
#include "output/placed_file.h"

class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Opens the output under path, placed whole as PlacedFile places a file; false,
  // with errno telling why, when it cannot be opened.
  bool open(const std::string& path);
  // The bytes go to sink, which the caller owns; nothing is placed.
  void openOn(Sink& sink);
  // Written in place because a new file could not keep the old one's owner.
  bool inPlaceToKeepOwner() const { return file_.inPlaceToKeepOwner(); }
  // A write failed because the output is a pipe whose reader has gone.
  bool readerLeft() const { return file_.readerLeft(); }

  AsyncWriter& writer() { return writer_; }
  // The copy of the input: queued without copying it, and what the name keeps
  // when the run fails after it.
  void writeCopy(std::string_view bytes);
  bool flush() { return writer_.flush(); }

  enum class Keep { kEverything, kCopy, kNothing };
  // Flushes, stops the writer thread, closes the file and gives it its name. The
  // name then holds what keep asks for; when a write, the closing or the renaming
  // failed, the copy alone; and what it held before when even the copy could not be
  // written. False in those last two cases. Called once; later calls return false.
  bool finish(Keep keep);
  // The bytes the file has received so far, from any thread.
  std::size_t bytesWritten() const { return writer_.bytesWritten(); }

  // For an interruption, from a signal handler: only async-signal-safe calls. The
  // name keeps what it held before (a file written in place is cut back to the
  // copy); a finished output that already has its name stays.
  void abandonOnSignal();
  // For a failure to get memory, from any thread, once readyToKeepCopy: the name
  // gets the copy, as finish(Keep::kCopy) gives it, without waiting for writes
  // still queued. False while another thread finishes the output: the caller waits
  // and asks again.
  bool abandonKeepingCopy();
  // The copy has reached the file, or never will.
  bool readyToKeepCopy() const;

 private:
  bool copyWritten() const { return bytesWritten() >= copy_.size(); }
  // Leaves the file holding exactly the copy; false when it does not hold all of it.
  bool cutBackToCopy();

  // Who ends the output: finish, or an abandon that ends the process. The first to
  // take it decides; the other leaves the file alone.
  enum Ending : int { kOpen, kFinishing, kFinished, kAbandoned };
  std::atomic<int> ending_{kOpen};
  PlacedFile file_;
  bool opened_ = false;  // a placed file, not a sink of the caller's
  std::string_view copy_;
  AsyncWriter writer_;  // destroyed first: its thread writes to file_
};
