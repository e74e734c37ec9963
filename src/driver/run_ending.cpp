#include "driver/run_ending.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "driver/application.h"
#include "driver/progress.h"
#include "output/output_file.h"
#include "output/placed_file.h"

namespace {
std::atomic<OutputFile*> watched{nullptr};
std::atomic<const ProgressLine*> console{nullptr};
std::atomic<int> messages{STDOUT_FILENO};

// Waits for the owner of the ending, which exits once its files are as they must be.
[[noreturn]] void leaveTheEndingToItsOwner() {
  for (;;) {
    pause();
  }
}

void say(int descriptor, std::string_view text) {
  writeWhenReady(descriptor, text);
}
}  // namespace

void sayMessagesOnStandardError() {
  messages.store(STDERR_FILENO);
}

void watchOutput(OutputFile* output) {
  watched.store(output);
}

void watchConsole(const ProgressLine* line) {
  console.store(line);
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

void endOnInputReadError() {
  if (!claimEnding(0)) {
    leaveTheEndingToItsOwner();
  }
  if (OutputFile* output = watched.load()) {
    output->abandonOnSignal();
  }
  removeTemporaryFiles();
  const ProgressLine* line = console.load();
  // After "Joining the tables: " and its dots, say, the message starts a line.
  if (line != nullptr && line->messageLineOpen()) {
    say(messages.load(), "\n");
  }
  say(messages.load(), "Can't read input file!\n");
  say(STDERR_FILENO, "prg: hint: the system failed to read a part of the input file\n");
  _exit(kFilesFailed);
}

void endWithoutMemory() {
  if (!claimEnding(0)) {
    leaveTheEndingToItsOwner();
  }
  if (OutputFile* output = watched.load()) {
    // The copy may still be on its way, or another thread finishing the output;
    // neither takes memory, and the name should get the copy.
    do {
      if (!waitGivingWayToInterruptions([output] { return output->readyToKeepCopy(); })) {
        leaveTheEndingToItsOwner();
      }
    } while (!output->abandonKeepingCopy());
  }
  removeTemporaryFiles();
  static const char kMessage[] = "Not enough memory!\n";
  std::fflush(stdout);
  std::fflush(stderr);
  say(messages.load(), kMessage);
  std::_Exit(kOutOfMemory);
}
