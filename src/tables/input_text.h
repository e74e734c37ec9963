// The whole input, held for the length of a run by the source it came from, and
// the reader that walks it line by line. Every cell of every table is a view into
// this text.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string_view>
#include <vector>

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

// Where a run's text comes from: a mapped file, a stream read whole, or text held
// in memory. The run reads the text more than once (it is checked, copied, then read
// again where tables are indexed and joined) and a file can change in between, so
// the run asks its source, stage after stage, whether the text is still the one
// it took.
class InputSource {
 public:
  virtual ~InputSource() = default;
  // The whole text, at the same place for the length of the run.
  virtual std::string_view text() const = 0;
  // The regular file the text came from; not regular for a pipe or a terminal.
  virtual const FileIdentity& identity() const = 0;
  // Whether the text has been found other than it was when taken: its file cut,
  // grown or written since, or a read again that found other lines or fields.
  virtual bool changedSinceTaken() const = 0;
};

// A regular file mapped read-only: its pages stay the system's file cache, so a
// text of any size costs the process no memory of its own. A part cut off the file
// while it is mapped reads as zero bytes (see faultInMappedInput).
class MappedFile : public InputSource {
 public:
  // Takes the descriptor, of a file that was seen as it was when its size was
  // taken; null, with the descriptor left open, when it can't be mapped.
  static std::unique_ptr<MappedFile> map(int descriptor, const struct stat& seen);
  ~MappedFile() override;
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;

  std::string_view text() const override { return std::string_view(mapped_, size_); }
  const FileIdentity& identity() const override { return identity_; }
  bool changedSinceTaken() const override;

 private:
  MappedFile(const char* mapped, int descriptor, const struct stat& seen);

  const char* mapped_;
  std::size_t size_;
  int descriptor_;
  struct stat seen_;
  FileIdentity identity_;
  unsigned changesNotedBefore_;
};

// Bytes the process holds: read whole from a descriptor (a pipe, a terminal, a file
// that can't be mapped), or given.
class HeldText : public InputSource {
 public:
  enum class Read { kWhole, kFailed, kTooLarge };
  // Reads descriptor to its end in large blocks; expectedSize is a hint (0:
  // unknown). Stops with kTooLarge before the text would hold more than limit
  // bytes, so that a pipe or a device that never ends can't take all the memory
  // there is.
  Read readFrom(int descriptor, std::size_t expectedSize, std::size_t limit);
  void assign(std::string_view text);
  void setIdentity(const FileIdentity& identity) { identity_ = identity; }

  std::string_view text() const override { return std::string_view(bytes_.get(), size_); }
  const FileIdentity& identity() const override { return identity_; }
  // Held bytes change under no one.
  bool changedSinceTaken() const override { return false; }

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
  FileIdentity identity_;
};

// Whether the file of descriptor is no longer what seen says it was: cut, grown,
// written or replaced.
bool fileChangedSince(int descriptor, const struct stat& seen);

// Says that a read of the input found it other than an earlier read did (other
// lines, other fields): it changed under the run, whatever its file's times say.
// From any thread.
void noteInputChangedUnderRun();
// How many times that was said in this process, so that a source tells the changes
// noted since it was taken from those of an earlier run.
unsigned inputChangesNoted();

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
  // The same, with the line's fields as splitTrimmedInto cuts them, found in the
  // same pass as the line's end.
  bool nextFields(std::string_view& line, char separator, std::vector<std::string_view>& fields);
  // The same, with only the count of those fields.
  bool nextFieldCount(std::string_view& line, char separator, std::size_t& count);
  // Where the next line starts.
  std::size_t position() const { return position_; }

 private:
  std::string_view text_;
  std::size_t position_ = 0;
};
