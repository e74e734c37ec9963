// A file placed whole: written beside its name under a temporary one, synced, and
// renamed over the name only once it is complete, so that whatever ends the
// process the name holds what it held before or the finished file, and nothing is
// left beside it. What can't be replaced that way is written in place: what is not
// a regular file (a pipe, a terminal, a device), a descriptor named as such
// (/dev/stdout, /dev/fd/N, ...), and a file in a folder that takes no new file.
#pragma once

#include <sys/stat.h>

#include <atomic>
#include <string>
#include <string_view>
#include <vector>

#include "output/sink.h"

struct TemporaryName;

class PlacedFile : public Sink {
 public:
  friend bool placeTogether(PlacedFile* files, std::size_t count);
  PlacedFile() = default;
  ~PlacedFile() override;  // removes a temporary file that never got its name
  PlacedFile(const PlacedFile&) = delete;
  PlacedFile& operator=(const PlacedFile&) = delete;
  PlacedFile(PlacedFile&& other) noexcept;
  PlacedFile& operator=(PlacedFile&&) = delete;

  // Opens path for writing; false, with errno telling why, when it can't be: the
  // empty name, a loop of symbolic links, a missing folder, a file the run may not
  // write. A file of a batch (see placeTogether) that can be written but not
  // replaced is written beside its name all the same, and copied into it once the
  // others are placed, so that a failed batch leaves it as it was.
  enum class Batch { kAlone, kOfMany };
  bool open(const std::string& path, Batch batch = Batch::kAlone);
  int descriptor() const { return descriptor_; }
  bool inPlace() const { return temporary_ == nullptr; }
  // A regular file, which can be cut back.
  bool regular() const { return regular_; }
  // Written in place because a new file could not take the old one's owner,
  // group or attributes (another user's file, a group the run is not in).
  bool inPlaceToKeepOwner() const { return inPlaceToKeepOwner_; }

  // Writes bytes, as many calls as it takes; how many reached the file (fewer only
  // when a write failed).
  std::size_t write(std::string_view bytes) override;
  // A write failed because the pipe the file is has no reader any more.
  bool readerLeft() const { return readerLeft_.load(); }
  // Syncs and closes the file, still beside its name; false when either failed.
  bool complete();
  // Completes the file and gives it its name; false when anything of it failed,
  // and then the temporary file is gone. In place, completing is all.
  bool place();
  // Closes the file; a temporary one is removed, one written in place stays.
  void discard();

  // For the ending that owns the process (it must not wait for itself): the
  // renaming of place without claiming it.
  bool renameOwned();

 private:
  // replaced: what the file of that name is, when there is one, open on
  // replacedDescriptor.
  bool openBeside(const std::string& real, const struct stat* replaced, int replacedDescriptor);
  // Gives the new file the owner, group, mode, ACL and user attributes of the one
  // it replaces; false when one of them can't be kept.
  bool keepWhoMayUseIt(const struct stat& replaced, int replacedDescriptor);
  bool closeFile();

  int descriptor_ = -1;
  bool regular_ = false;
  std::atomic<bool> readerLeft_{false};
  bool inPlaceToKeepOwner_ = false;
  bool copiedIntoItsName_ = false;      // written beside, then copied into the file
  TemporaryName* temporary_ = nullptr;  // null when written in place
  std::string name_;                    // the name the file takes, in folder_
  int folder_ = -1;  // held by descriptor from the start, shared with other files there
};

// Writes bytes to descriptor, as many calls as it takes: a descriptor set not to
// block (O_NONBLOCK) is waited for, an interrupted write is made again. How many
// bytes it took, fewer only when a write failed. Async-signal-safe.
std::size_t writeWhenReady(int descriptor, std::string_view bytes);

// A name written in place whatever it leads to: it names a descriptor the process
// already has.
bool namesADescriptor(std::string_view path);
// The descriptor such a name names ("-" standard output), or -1.
int descriptorNamed(std::string_view path);
// Says that a standard descriptor was closed as the process started (and now
// leads to /dev/null): an output named as that descriptor is refused, as the
// output would be lost.
void noteClosedAtStart(int descriptor);

// Gives every file of a batch its name, only once all are complete; false, with
// none of them renamed and every temporary file gone, when one could not be
// completed. The files copied into their names come last.
bool placeTogether(PlacedFile* files, std::size_t count);

// The folders made for a batch of files: each is removed again, when empty, unless
// the batch keeps them; an ending removes them too, after the files in them.
class MadeFolders {
 public:
  MadeFolders() = default;
  MadeFolders(const MadeFolders&) = delete;
  MadeFolders& operator=(const MadeFolders&) = delete;
  ~MadeFolders();  // removes those not kept, when empty

  // Makes path and every missing folder above it; false, with errno, when it can't.
  bool make(const std::string& path);
  // The batch was placed: the folders stay.
  void keep();

 private:
  std::vector<TemporaryName*> made_;  // top first
};

// Async-signal-safe: removes every temporary file of the process that has not got
// its name, and then the folders made for them.
void removeTemporaryFiles();

// Who may end the process while files are given their names: the process's guard,
// which holds an ending back until they have them. Without one, names are given
// at once.
class RenamingGate {
 public:
  virtual ~RenamingGate() = default;
  // False when the process is ending: then no name is given.
  virtual bool beginRenaming() = 0;
  // An ending held back meanwhile takes effect now.
  virtual void endRenaming() = 0;
  // Whether the process is ending; a temporary file made meanwhile goes at once.
  virtual bool ending() const = 0;
};
void setRenamingGate(RenamingGate* gate);
