// The whole input file, held in memory for the length of a run, and the reader that
// walks it line by line. Every cell of every table is a view into this text.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string_view>

// read(2) that waits for a descriptor set not to block (O_NONBLOCK) to have bytes,
// and reads again when a signal interrupted it: the bytes read, 0 at the end, -1
// with errno on a failure.
std::ptrdiff_t readWhenReady(int descriptor, char* into, std::size_t count);

// Which file a text was read from: a regular file's device and inode, so that no
// output of the run replaces it, whatever names or descriptors lead to it.
struct FileIdentity {
  bool regular = false;
  dev_t device = 0;
  ino_t inode = 0;
};
// The identity of the file open on descriptor; not regular when it can't be told.
FileIdentity identityOf(int descriptor);
// The same for the file a name leads to, links followed.
FileIdentity identityOf(const char* path);
// Whether both are one regular file: a pipe or a terminal is never the same file.
inline bool sameFile(const FileIdentity& one, const FileIdentity& other) {
  return one.regular && other.regular && one.device == other.device && one.inode == other.inode;
}

class InputText {
 public:
  enum class Read { kWhole, kFailed, kTooLarge };
  // Reads descriptor to its end in large blocks; expectedSize is a hint (0:
  // unknown). Stops with kTooLarge before the text would hold more than limit
  // bytes, so that a pipe or a device that never ends can't take all the memory
  // there is.
  Read readFrom(int descriptor, std::size_t expectedSize, std::size_t limit);
  // Maps a regular file of size bytes read-only: its pages stay the system's file
  // cache, so a text of any size costs the process no memory of its own. A part cut
  // off the file while it is mapped reads as zero bytes (see faultInMappedInput).
  // Takes the descriptor; seen is what the file was when its size was taken. False
  // when the file can't be mapped.
  bool map(int descriptor, const struct stat& seen);
  void assign(std::string_view text);
  ~InputText();

  std::string_view view() const {
    return mapped_ != nullptr ? std::string_view(mapped_, size_)
                              : std::string_view(bytes_.get(), size_);
  }
  const FileIdentity& source() const { return source_; }
  void setSource(const FileIdentity& source) { source_ = source; }
  // A mapped file that has changed since it was mapped: cut, grown or written, or
  // found other by a read again.
  bool changedSinceMapped() const;

 private:
  // Moves the text to a buffer of the given, larger capacity.
  void grow(std::size_t capacity);

  struct Free {
    void operator()(char* bytes) const { std::free(bytes); }
  };
  // Not zero-filled first: the reads overwrite every byte that is ever looked at.
  std::unique_ptr<char, Free> bytes_;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
  const char* mapped_ = nullptr;
  int descriptor_ = -1;  // of the mapped file
  struct stat seen_ {};  // what that file was as it was mapped
  FileIdentity source_;
};

// Whether the file of descriptor is no longer what seen says it was: cut, grown,
// written or replaced.
bool fileChangedSince(int descriptor, const struct stat& seen);

// Says that a read of the input found it other than an earlier read did (other
// lines, other fields): it changed under the run, whatever its file's times say.
// From any thread.
void noteInputChangedUnderRun();

// What a SIGBUS at an address means for the run.
enum class InputFault {
  kElsewhere,  // not in the mapped input
  kCut,        // past the end of its file, which was cut: covered by zero bytes
  kReadError,  // inside its file: the system failed to read it
};
// For SIGBUS: when address lies in a mapped input past the end of its file (cut
// while mapped), puts a page of zero bytes there, so that the run reads on.
// Async-signal-safe.
InputFault faultInMappedInput(const void* address);

// Lines of a text, in order, each without its line end. A "\r" right before the
// "\n", or at the very end of the text, belongs to the line end.
class LineReader {
 public:
  explicit LineReader(std::string_view text, std::size_t position = 0)
      : text_(text), position_(position) {}

  // The next line; false once the text is exhausted.
  bool next(std::string_view& line);
  // Where the next line starts.
  std::size_t position() const { return position_; }

 private:
  std::string_view text_;
  std::size_t position_ = 0;
};
