#include "driver/application.h"

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

#include "driver/run_ending.h"
#include "text/string_helpers.h"
#include "threads/threads.h"

namespace {

struct FileCloser {
  // Standard input stays open: descriptor 0 must not go to the next file opened.
  void operator()(std::FILE* file) const {
    if (file != stdin) {
      std::fclose(file);
    }
  }
};
using InputFile = std::unique_ptr<std::FILE, FileCloser>;

}  // namespace

bool Application::openFiles(int argc, const char* const* argv, std::string suffix) {
  said << "Usage: prg [inputfile] [outputfile]\n" << std::flush;
  std::string inputName = "input" + suffix;
  std::string outputName = "output" + suffix;
  if (argc == 2) {
    inputName = argv[1];
    std::string rest = inputName;
    if (!stripPrefix(rest, "input")) {
      console << "Can't gues the output file. Input file name should look like input***** to "
                 "gues the output file \n"
              << std::flush;
      diagnostics << "prg: hint: name the output file as well: prg " << escapedForConsole(inputName)
                  << " OUTPUTFILE\n"
                  << std::flush;
      return false;
    }
    outputName = "output" + rest;
  } else if (argc == 3) {
    inputName = argv[1];
    outputName = argv[2];
  } else if (argc > 3) {
    console << "Too many arguments!\n" << std::flush;
    return false;
  }
  said << "Opening input file: " << inputName << '\n' << std::flush;
  // The whole input is read before the output is opened, so that no failure of the
  // input can cost the output file its previous content.
  if (!files.readInput(inputName, inputText, console, diagnostics)) {
    return false;
  }
  lines = LineReader(inputText.view());
  said << "Opening output file: " << outputName << '\n' << std::flush;
  if (!files.openOutput(inputText, outputName, output, console, diagnostics)) {
    return false;
  }
  outputOpened = true;
  if (format.followsCopy()) {
    output.writeCopy(inputText.view());
  }
  return true;
}

namespace {

// The system's reason for the last failure, after the run's own message.
void hintReason(std::ostream& hints, int number) {
  hints << "prg: hint: " << std::strerror(number) << '\n' << std::flush;
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

bool readInputFile(const std::string& path, InputText& inputText, std::ostream& console,
                   std::ostream& hints) {
  const InputFile file(openInputFile(path, console, hints));
  if (file == nullptr) {
    return false;
  }
  struct stat before {};
  const bool known = ::fstat(fileno(file.get()), &before) == 0;
  if (known && S_ISREG(before.st_mode)) {
    inputText.setSource(FileIdentity{true, before.st_dev, before.st_ino});
  }
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
    if (descriptor != -1 && inputText.map(descriptor, before)) {
      return true;
    }
    if (descriptor != -1) {
      ::close(descriptor);
    }
  }
  switch (inputText.readFrom(fileno(file.get()), size, inputMemoryLimit(true))) {
    case InputText::Read::kTooLarge:
      endWithoutMemory();
    case InputText::Read::kFailed: {
      const int reason = errno;
      console << "Can't read input file!\n" << std::flush;
      hintReason(hints, reason);
      return false;
    }
    case InputText::Read::kWhole:
      break;
  }
  // The run goes on with what it read, which is also what its output copies.
  if (regular && fileChangedSince(fileno(file.get()), before)) {
    hints << "prg: hint: the input file changed while it was read; the run uses the "
          << inputText.view().size() << " bytes it read\n"
          << std::flush;
  }
  return true;
}

bool openOutputFile(const InputText& input, const std::string& outputName, OutputFile& output,
                    std::ostream& console, std::ostream& hints) {
  // Opening the output truncates it, and when it is the input file too that would
  // destroy the data; the names alone can't tell (./a, links, a descriptor that
  // standard input or output already is), the file identity can.
  const FileIdentity target =
      outputName == "-" ? identityOf(STDOUT_FILENO) : identityOf(outputName.c_str());
  if (sameFile(input.source(), target)) {
    console << "Input and output file are the same!\n" << std::flush;
    return false;
  }
  errno = 0;
  if (!output.open(outputName)) {
    const int reason = errno;
    console << "Can't open output file!\n" << std::flush;
    if (reason != 0) {
      hintReason(hints, reason);
    }
    return false;
  }
  if (output.inPlaceToKeepOwner()) {
    hints << "prg: hint: " << escapedForConsole(outputName)
          << " keeps its owner, group and attributes, which a new file could not take, so it "
             "is written in place\n"
          << std::flush;
  }
  watchOutput(&output);
  return true;
}

}  // namespace

std::FILE* openInputFile(const std::string& path, std::ostream& console, std::ostream& hints) {
  // Standard input, read whole; the stream is never closed (see FileCloser).
  if (path == "-") {
    return stdin;
  }
  std::error_code error;
  if (std::filesystem::is_directory(path, error)) {
    console << "Can't open input file!\n" << std::flush;
    hintReason(hints, EISDIR);
    return nullptr;
  }
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    const int reason = errno;
    console << "Can't open input file!\n" << std::flush;
    hintReason(hints, reason);
  }
  return file;
}

RunFiles filesOnDisk() {
  return RunFiles{readInputFile, openOutputFile};
}
