#include "driver/process_guard.h"

#include <fcntl.h>
#include <malloc.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <new>
#include <string>
#include <system_error>
#include <thread>

#include "driver/console.h"
#include "driver/messages.h"
#include "driver/run.h"
#include "output/output_file.h"
#include "output/placed_file.h"
#include "tables/cell_array.h"
#include "tables/input_text.h"

namespace {

std::atomic<OutputFile*> watchedOutput{nullptr};
std::atomic<const Console*> watchedConsole{nullptr};

// Who owns the ending, and whether files are being given their names meanwhile.
enum State : int { kRunning, kRenaming, kEnding };
std::atomic<int> state{kRunning};
std::atomic<int> heldSignal{0};
// Whether the owner of the ending waits and an interruption may take over.
enum Waiting : int { kNotWaiting, kOpenToInterruptions, kTakenOver };
std::atomic<int> waiting{kNotWaiting};

void pauseAMillisecond() {
  const timespec millisecond{0, 1000000};
  nanosleep(&millisecond, nullptr);
}

// The first interruption or failed allocation owns the ending (true): it cleans up
// and ends the process; every other one leaves it to the owner. While files are
// renamed the ending waits: a signal is held and ends the process with 128 +
// signal right after the renaming. Signal 0 stands for a failed allocation.
bool claimEnding(int signal) {
  for (;;) {
    int expected = kRunning;
    if (state.compare_exchange_strong(expected, kEnding)) {
      return true;
    }
    if (expected == kEnding) {
      int open = kOpenToInterruptions;
      return signal != 0 && waiting.compare_exchange_strong(open, kTakenOver);
    }
    if (signal == 0) {
      pauseAMillisecond();  // memory is not needed to rename; the ending waits for it
      continue;
    }
    heldSignal.store(signal);
    if (state.load() == kRenaming) {
      return false;
    }
    // The renaming ended before it could see the signal: take it back, unless it did.
    if (heldSignal.exchange(0) == 0) {
      return false;
    }
  }
}

// For the owner of the ending while it waits for what may never come (a write to
// a pipe nobody reads): an interruption meanwhile takes the ending over, and ends
// the process as its own. False when one took over; the caller then leaves the
// process to it.
template <typename Done>
bool waitGivingWayToInterruptions(Done&& done) {
  waiting.store(kOpenToInterruptions);
  while (!done()) {
    pauseAMillisecond();
  }
  int open = kOpenToInterruptions;
  return waiting.compare_exchange_strong(open, kNotWaiting);
}

[[noreturn]] void leaveTheEndingToItsOwner() {
  for (;;) {
    pause();
  }
}

// Async-signal-safe.
void sayInEnding(std::string_view text, std::string_view hint, bool startLine) {
  if (const Console* console = watchedConsole.load()) {
    console->sayInEnding(text, hint, startLine);
    return;
  }
  writeWhenReady(STDOUT_FILENO, text);
  writeWhenReady(STDERR_FILENO, hint);
}

// Once the ending is claimed for an interruption: every temporary file is removed
// and the progress line erased, so the shell's prompt comes on a clean line.
[[noreturn]] void endAsInterrupted(int signal) {
  removeTemporaryFiles();
  sayInEnding("", "", false);
  _exit(128 + signal);
}

// For SIGINT, SIGTERM and SIGHUP, from a signal handler or a thread that waits for
// them: only async-signal-safe calls. The output's name keeps what it held before;
// status 128 + signal.
void endOnSignal(int signal) {
  if (!claimEnding(signal)) {
    return;
  }
  if (OutputFile* output = watchedOutput.load()) {
    output->abandonOnSignal();
  }
  endAsInterrupted(signal);
}

// For a SIGBUS in the mapped input inside its file: the system failed to read
// it. Async-signal-safe.
[[noreturn]] void endOnInputReadError() {
  if (!claimEnding(0)) {
    leaveTheEndingToItsOwner();
  }
  if (OutputFile* output = watchedOutput.load()) {
    output->abandonOnSignal();
  }
  removeTemporaryFiles();
  // After "Joining the tables: " and its dots, say, the message starts a line.
  sayInEnding(message::kCantReadInput,
              "prg: hint: the system failed to read a part of the input file\n", true);
  _exit(kFilesFailed);
}

// Files are given their names without being cut short; an ending that comes
// meanwhile takes effect right after.
class GuardedRenaming : public RenamingGate {
 public:
  bool beginRenaming() override {
    for (;;) {
      int expected = kRunning;
      if (state.compare_exchange_strong(expected, kRenaming)) {
        return true;
      }
      if (expected == kEnding) {
        return false;
      }
      pauseAMillisecond();
    }
  }
  void endRenaming() override {
    state.store(kRunning);
    const int signal = heldSignal.exchange(0);
    if (signal != 0 && claimEnding(signal)) {
      endAsInterrupted(signal);
    }
  }
  bool ending() const override { return state.load() == kEnding; }
};

// The heap grows in steps this large, so that each step's huge pages are asked
// for before they are touched (see askForHugePages); a step is address space
// only, touched as it is used, but a small limit on it gets smaller steps.
int heapStep() {
  rlim_t step = rlim_t{256} << 20;
  for (const int resource : {RLIMIT_AS, RLIMIT_DATA}) {
    struct rlimit limit {};
    if (::getrlimit(resource, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
      step = std::min(step, limit.rlim_cur / 16);
    }
  }
  return static_cast<int>(step);
}

// Fresh memory is what a run pays most for: a page the process touches for the first
// time costs far more than the bytes it holds. Freed memory is kept for reuse
// rather than handed back, blocks below 32 MiB come from the heap, and one arena
// serves all threads, so that memory one thread frees serves another's next
// allocation: an index's partitions are built from what every thread scattered, and
// memory freed in one arena and allocated anew in another would count twice
// (10^7-row joins then need a third more). Settings a user gave are kept.
void tuneAllocator() {
  const char* given = std::getenv("GLIBC_TUNABLES");
  const std::string tunables = given == nullptr ? "" : given;
  const auto unless = [&tunables](const char* tunable, const char* variable, int option,
                                  int value) {
    if (tunables.find(tunable) == std::string::npos && std::getenv(variable) == nullptr) {
      mallopt(option, value);
    }
  };
  unless("glibc.malloc.arena_max", "MALLOC_ARENA_MAX", M_ARENA_MAX, 1);
  unless("glibc.malloc.mmap_threshold", "MALLOC_MMAP_THRESHOLD_", M_MMAP_THRESHOLD, 32 << 20);
  unless("glibc.malloc.trim_threshold", "MALLOC_TRIM_THRESHOLD_", M_TRIM_THRESHOLD, INT_MAX);
  unless("glibc.malloc.top_pad", "MALLOC_TOP_PAD_", M_TOP_PAD, heapStep());
  askForHugePages();
}

// A closed standard descriptor would be the number the next file gets, and the
// console would write into that file; /dev/null takes the number instead.
void fillClosedStandardDescriptors() {
  for (int descriptor = 0; descriptor <= 2; ++descriptor) {
    if (fcntl(descriptor, F_GETFD) == -1 && errno == EBADF) {
      open("/dev/null", O_RDWR);
      noteClosedAtStart(descriptor);
    }
  }
}

// A console that can no longer be written must not end the run, a reader that
// left the output's pipe is told by the failed write (see exit), and a file-size
// limit must end the run as a failed write, not as a killed process.
void ignoreSignalsThatWritesRaise() {
  signal(SIGPIPE, SIG_IGN);
  signal(SIGXFSZ, SIG_IGN);
}

// Only the interruptions whose handling the run was given as the default are taken
// over: one that the parent set to be ignored (nohup, a script's background job)
// stays ignored.
sigset_t interruptionsLeftAtDefault() {
  sigset_t set;
  sigemptyset(&set);
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction current {};
    if (sigaction(signal, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) {
      sigaddset(&set, signal);
    }
  }
  return set;
}

// A thread of its own waits for the interruptions; where no thread can be had, a
// handler does the same, which is why the ending makes only async-signal-safe calls.
void endOnInterruption() {
  const sigset_t set = interruptionsLeftAtDefault();
  // The same thread redraws the progress line when the terminal is resized.
  sigset_t taken = set;
  sigaddset(&taken, SIGWINCH);
  pthread_sigmask(SIG_BLOCK, &taken, nullptr);
  try {
    std::thread([taken] {
      for (;;) {
        int signal = 0;
        sigwait(&taken, &signal);
        if (signal != SIGWINCH) {
          endOnSignal(signal);
        } else if (const Console* console = watchedConsole.load()) {
          console->terminalResized();
        }
      }
    }).detach();
  } catch (const std::system_error&) {
    pthread_sigmask(SIG_UNBLOCK, &taken, nullptr);
    struct sigaction action {};
    action.sa_handler = endOnSignal;
    sigfillset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
      if (sigismember(&set, signal) == 1) {
        sigaction(signal, &action, nullptr);
      }
    }
  }
}

// A mapped input whose file another program cuts would end the run with SIGBUS;
// the cut part reads as zero bytes instead, and the run says that its input changed.
// A part the file still holds but the system failed to read ends the run as a read
// error.
void readOnWhereTheInputIsCut() {
  struct sigaction action {};
  action.sa_flags = SA_SIGINFO | SA_NODEFER;
  action.sa_sigaction = [](int, siginfo_t* info, void*) {
    switch (faultInMappedInput(info->si_addr)) {
      case InputFault::kCut:
        return;
      case InputFault::kReadError:
        endOnInputReadError();
      case InputFault::kElsewhere:
        break;
    }
    signal(SIGBUS, SIG_DFL);
    raise(SIGBUS);
  };
  sigaction(SIGBUS, &action, nullptr);
}

GuardedRenaming renaming;

}  // namespace

ProcessGuard::ProcessGuard() {
  tuneAllocator();
  fillClosedStandardDescriptors();
  ignoreSignalsThatWritesRaise();
  std::set_new_handler(endWithoutMemory);
  setRenamingGate(&renaming);
  endOnInterruption();
  readOnWhereTheInputIsCut();
}

void ProcessGuard::watchOutput(OutputFile* output) {
  watchedOutput.store(output);
}

void ProcessGuard::watchConsole(const Console* console) {
  watchedConsole.store(console);
}

void ProcessGuard::exit(int status) {
  watchedConsole.store(nullptr);
  if (status == kOutputReaderLeft) {
    signal(SIGPIPE, SIG_DFL);
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_UNBLOCK, &pipe, nullptr);
    raise(SIGPIPE);
  }
  std::_Exit(status);
}

void endWithoutMemory() {
  if (!claimEnding(0)) {
    leaveTheEndingToItsOwner();
  }
  if (OutputFile* output = watchedOutput.load()) {
    // The copy may still be on its way, or another thread finishing the output;
    // neither takes memory, and the name should get the copy.
    do {
      if (!waitGivingWayToInterruptions([output] { return output->readyToKeepCopy(); })) {
        leaveTheEndingToItsOwner();
      }
    } while (!output->abandonKeepingCopy());
  }
  removeTemporaryFiles();
  sayInEnding(message::kOutOfMemory, "", false);
  std::_Exit(kOutOfMemory);
}
