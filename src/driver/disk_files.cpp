#include "driver/run.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>

#include "driver/messages.h"
#include "driver/process_guard.h"
#include "text/string_helpers.h"
#include "threads/threads.h"

namespace {

// The system's reason for the last failure, after the run's own message, with the
// name of the file it concerns, as grep and gcc say it.
void hintReason(Console& console, const std::string& name, int number, bool output = false) {
  console.hint(shownName(name, output) + ": " + std::strerror(number));
}

// Half the memory the machine had free as the run started, or half the control
// group's or the process's limit where that is lower: the most the input alone may
// take, so that a pipe or a device that never ends meets a message, not the
// kernel's out-of-memory killer.
std::size_t inputMemoryLimit(bool countProcessLimits) {
  std::uintmax_t available = UINTMAX_MAX;
  const auto lower = [&available](std::uintmax_t bytes) { available = std::min(available, bytes); };
  if (std::ifstream meminfo("/proc/meminfo"); meminfo) {
    std::string key;
    std::uintmax_t kibibytes = 0;
    while (meminfo >> key >> kibibytes && key != "MemAvailable:") {
      meminfo.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
    }
    if (key == "MemAvailable:") {
      lower(kibibytes * 1024);
    }
  }
  lower(controlGroupMemoryLimit());
  for (const int resource : {RLIMIT_AS, RLIMIT_DATA}) {
    if (!countProcessLimits) {
      break;
    }
    struct rlimit limit {};
    if (::getrlimit(resource, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
      lower(limit.rlim_cur);
    }
  }
  return static_cast<std::size_t>(std::min<std::uintmax_t>(available / 2, SIZE_MAX));
}

}  // namespace

std::unique_ptr<InputSource> DiskFiles::readInput(const std::string& path, Console& console) {
  const InputFile file = openInputFile(path, console);
  if (file == nullptr) {
    return nullptr;
  }
  struct stat before {};
  const bool known = ::fstat(fileno(file.get()), &before) == 0;
  // Standard input may be a file read from anywhere but its start: it is read.
  const bool regular = path != "-" && known && S_ISREG(before.st_mode);
  const std::size_t size = regular ? static_cast<std::size_t>(before.st_size) : 0;
  // A regular file is mapped, not read: its pages are not the process's own, so
  // only the machine's memory bounds it. It is checked for changes once it is read.
  if (regular && size > inputMemoryLimit(false)) {
    endWithoutMemory();
  }
  if (regular) {
    const int descriptor = ::dup(fileno(file.get()));
    if (descriptor != -1) {
      if (std::unique_ptr<MappedFile> mapped = MappedFile::map(descriptor, before)) {
        return mapped;
      }
      ::close(descriptor);
    }
  }
  auto held = std::make_unique<HeldText>();
  if (known && S_ISREG(before.st_mode)) {
    held->setIdentity(FileIdentity{true, before.st_dev, before.st_ino});
  }
  switch (held->readFrom(fileno(file.get()), size, inputMemoryLimit(true))) {
    case HeldText::Read::kTooLarge:
      endWithoutMemory();
    case HeldText::Read::kFailed: {
      const int reason = errno;
      console.fail(message::kCantReadInput);
      hintReason(console, path, reason);
      return nullptr;
    }
    case HeldText::Read::kWhole:
      break;
  }
  // The run goes on with what it read, which is also what its output copies.
  if (regular && fileChangedSince(fileno(file.get()), before)) {
    console.hint("the input file changed while it was read; the run uses the " +
                 std::to_string(held->text().size()) + " bytes it read");
  }
  return held;
}

bool DiskFiles::openOutput(const InputSource& input, const std::string& outputName,
                           OutputFile& output, Console& console) {
  // Opening the output truncates it, and when it is the input file too that would
  // destroy the data; the names alone can't tell (./a, links, a descriptor that
  // standard input or output already is), the file identity can.
  const FileIdentity target =
      outputName == "-" ? identityOf(STDOUT_FILENO) : identityOf(outputName.c_str());
  if (sameFile(input.identity(), target)) {
    console.fail(message::kSameFiles);
    return false;
  }
  errno = 0;
  if (!output.open(outputName)) {
    const int reason = errno;
    console.fail(message::kCantOpenOutput);
    if (reason != 0) {
      hintReason(console, outputName, reason, true);
    }
    return false;
  }
  if (output.inPlaceToKeepOwner()) {
    console.hint(escapedForConsole(outputName) +
                 " keeps its owner, group and attributes, which a new file could not take, so "
                 "it is written in place");
  }
  ProcessGuard::watchOutput(&output);
  return true;
}

InputFile openInputFile(const std::string& path, Console& console) {
  // Standard input, read whole; the stream is never closed (see FileCloser).
  if (path == "-") {
    return InputFile(stdin);
  }
  std::error_code error;
  if (std::filesystem::is_directory(path, error)) {
    console.fail(message::kCantOpenInput);
    hintReason(console, path, EISDIR);
    return nullptr;
  }
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    const int reason = errno;
    console.fail(message::kCantOpenInput);
    hintReason(console, path, reason);
  }
  return InputFile(file);
}
