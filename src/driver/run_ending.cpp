#include "driver/run_ending.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "driver/application.h"
#include "output/output_file.h"
#include "output/placed_file.h"

namespace {
std::atomic<OutputFile*> watched{nullptr};
std::atomic<int> messages{STDOUT_FILENO};
}  // namespace

void sayMessagesOnStandardError() {
  messages.store(STDERR_FILENO);
}  // namespace

void watchOutput(OutputFile* output) {
  watched.store(output);
}

void endOnSignal(int signal) {
  if (!claimEnding(signal)) {
    return;
  }
  if (OutputFile* output = watched.load()) {
    output->abandonOnSignal();
  }
  removeTemporaryFiles();
  _exit(128 + signal);
}

void endWithoutMemory() {
  if (!claimEnding(0)) {
    // The owner of the ending exits once its files are left as they must be.
    for (;;) {
      pause();
    }
  }
  if (OutputFile* output = watched.load()) {
    output->abandonKeepingCopy();
  }
  removeTemporaryFiles();
  static const char kMessage[] = "Not enough memory!\n";
  std::fflush(stdout);
  std::fflush(stderr);
  [[maybe_unused]] const ssize_t shown = ::write(messages.load(), kMessage, std::strlen(kMessage));
  std::_Exit(kOutOfMemory);
}
