// The process around a run: what the system hands over (descriptors, signals,
// memory) is made safe before the run starts.

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <iostream>
#include <new>
#include <string>
#include <system_error>
#include <thread>

#include "driver/application.h"
#include "driver/run_ending.h"
#include "tables/input_text.h"

namespace {

// Fresh memory is what a run pays most for: a page the process touches for the first
// time costs far more than the bytes it holds. Measured on 10^6-row joins: the
// allocator's huge pages and keeping freed memory for reuse take a third of the time
// and four fifths of the page faults. One arena for all threads lets memory one
// thread frees serve another's next allocation: an index's partitions are built
// from what every thread scattered, and memory freed in one arena and allocated
// anew in another would count twice (10^7-row joins then need a third more). The
// allocator reads these settings only as a process starts, so the process starts
// again with them, once; settings a user gave are kept.
void startAgainWithAllocatorSettings(char** argv) {
  const char* given = std::getenv("GLIBC_TUNABLES");
  const std::string tunables = given == nullptr ? "" : given;
  if (tunables.find("glibc.malloc.hugetlb") != std::string::npos) {
    return;
  }
  const std::string settings = (tunables.empty() ? "" : tunables + ":") +
                               "glibc.malloc.hugetlb=1:glibc.malloc.mmap_threshold=33554432:"
                               "glibc.malloc.trim_threshold=4294967296:glibc.malloc.arena_max=1";
  if (setenv("GLIBC_TUNABLES", settings.c_str(), 1) == 0) {
    execv("/proc/self/exe", argv);
  }
  // Without /proc the run goes on with the allocator as it is.
}

// A closed standard descriptor would be the number the next file gets, and the
// console would write into that file; /dev/null takes the number instead.
void fillClosedStandardDescriptors() {
  for (int descriptor = 0; descriptor <= 2; ++descriptor) {
    if (fcntl(descriptor, F_GETFD) == -1 && errno == EBADF) {
      open("/dev/null", O_RDWR);
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
void readOnWhereTheInputIsCut() {
  struct sigaction action {};
  action.sa_flags = SA_SIGINFO | SA_NODEFER;
  action.sa_sigaction = [](int, siginfo_t* info, void*) {
    if (!coverCutInputPage(info->si_addr)) {
      signal(SIGBUS, SIG_DFL);
      raise(SIGBUS);
    }
  };
  sigaction(SIGBUS, &action, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
  startAgainWithAllocatorSettings(argv);
  fillClosedStandardDescriptors();
  ignoreSignalsThatWritesRaise();
  std::set_new_handler(endWithoutMemory);
  endOnInterruption();
  readOnWhereTheInputIsCut();
  int status = 0;
  {
    ProgressLine progress(STDERR_FILENO);  // erased as the run ends
    RunSettings settings;
    settings.progress = &progress;
    settings.consoleSharesTerminal = isatty(STDOUT_FILENO) == 1 && isatty(STDERR_FILENO) == 1;
    // Both may share the terminal with the progress line.
    ProgressAwareBuffer messages(progress, *std::cout.rdbuf());
    ProgressAwareBuffer diagnostics(progress, *std::cerr.rdbuf());
    std::ostream console(&messages);
    std::ostream errors(&diagnostics);
    // Never destroyed: the process ends right after the run, see below.
    Application& application = *new Application(console, errors, filesOnDisk(), settings);
    status = application.run(argc, argv);
  }
  // The output has its name; the run ends here rather than after freeing every
  // table, which could take a while and which the system does anyway.
  std::cout.flush();
  std::_Exit(status);
}
