// The process around a run: what the system hands over (descriptors, signals,
// memory) is made safe before the run starts.

#include <fcntl.h>
#include <malloc.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <iostream>
#include <new>
#include <string>
#include <system_error>
#include <thread>

#include "driver/application.h"
#include "driver/run_ending.h"
#include "output/placed_file.h"
#include "tables/cell_array.h"
#include "tables/input_text.h"

namespace {

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
// (10^7-row joins then need a third more). Set as the process starts, and no
// restart is needed for them; settings a user gave are kept.
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

// A console that can no longer be written must not end the run, and a file-size
// limit must end it as a failed write, not as a killed process.
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

// An interruption leaves the output's name as it was before the run. A thread of
// its own waits for the signals; where no thread can be had, a handler does the
// same, which is why the ending makes only async-signal-safe calls.
void endOnInterruption() {
  const sigset_t set = interruptionsLeftAtDefault();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  try {
    std::thread([set] {
      for (;;) {
        int signal = 0;
        sigwait(&set, &signal);
        endOnSignal(signal);
      }
    }).detach();
  } catch (const std::system_error&) {
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
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

}  // namespace

int main(int argc, char** argv) {
  tuneAllocator();
  fillClosedStandardDescriptors();
  ignoreSignalsThatWritesRaise();
  std::set_new_handler(endWithoutMemory);
  endOnInterruption();
  readOnWhereTheInputIsCut();
  int status = 0;
  {
    ProgressLine progress(STDERR_FILENO);  // erased as the run ends
    watchConsole(&progress);
    RunSettings settings;
    settings.progress = &progress;
    settings.consoleSharesTerminal = isatty(STDOUT_FILENO) == 1 && isatty(STDERR_FILENO) == 1;
    // Both may share the terminal with the progress line.
    DescriptorBuffer standardOutput(STDOUT_FILENO);
    DescriptorBuffer standardError(STDERR_FILENO);
    ProgressAwareBuffer messages(progress, standardOutput);
    ProgressAwareBuffer diagnostics(progress, standardError);
    std::ostream console(&messages);
    std::ostream errors(&diagnostics);
    // Never destroyed: the process ends right after the run, see below.
    Application& application = *new Application(console, errors, filesOnDisk(), settings);
    status = application.run(argc, argv);
    watchConsole(nullptr);
  }
  // The output has its name; the run ends here rather than after freeing every
  // table, which could take a while and which the system does anyway.
  std::_Exit(status);
}
