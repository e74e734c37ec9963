#include "output/output_file.h"

#include <unistd.h>

OutputFile::~OutputFile() {
  finish(Keep::kCopy);
}

bool OutputFile::open(const std::string& path) {
  if (!file_.open(path)) {
    return false;
  }
  opened_ = true;
  writer_.setSink(&file_);
  writer_.startThread();
  return true;
}

void OutputFile::openOn(Sink& sink) {
  writer_.setSink(&sink);
}

void OutputFile::writeCopy(std::string_view bytes) {
  copy_ = bytes;
  writer_.writeBorrowed(bytes);
}

bool OutputFile::finish(Keep keep) {
  int open = kOpen;
  if (!ending_.compare_exchange_strong(open, kFinishing)) {
    return false;
  }
  const bool flushed = writer_.flush();
  writer_.stopThread();
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

bool OutputFile::readyToKeepCopy() const {
  return ending_.load() != kFinishing &&
         (!writer_.threaded() || copy_.data() == nullptr || copyWritten() || writer_.failed());
}

bool OutputFile::abandonKeepingCopy() {
  int open = kOpen;
  if (!ending_.compare_exchange_strong(open, kAbandoned)) {
    // Finishing allocates nothing, so it is another thread's, and it ends.
    return open != kFinishing;
  }
  if (!opened_) {
    return true;
  }
  // Nothing is written after the copy is cut back. A write in progress on a
  // regular file ends by itself; one to a pipe may not, and a pipe can't be cut
  // back anyway.
  if (file_.regular()) {
    writer_.holdSink();
  }
  if (copy_.data() != nullptr && cutBackToCopy() && file_.complete()) {
    file_.renameOwned();
  }
  file_.discard();
  return true;
}
