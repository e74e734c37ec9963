// The process around a run: what the system hands over (descriptors, signals,
// memory) is made safe before the run starts.

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <new>
#include <system_error>
#include <thread>

#include "driver/application.h"
#include "output/output_file.h"

namespace {

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

sigset_t interruptions() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  return set;
}

void abandonOnSignal(int signal) {
  abandonRun(128 + signal, nullptr);
}

// An interruption leaves the output holding exactly the copy of the input, never
// a result that merely looks complete. A thread of its own waits for the signals,
// so that cutting the file back can wait for a write in progress; where no thread
// can be had, a plain handler does it.
void cutBackOnInterruption() {
  const sigset_t set = interruptions();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  try {
    std::thread([set] {
      int signal = 0;
      sigwait(&set, &signal);
      abandonOnSignal(signal);
    }).detach();
  } catch (const std::system_error&) {
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    signal(SIGINT, abandonOnSignal);
    signal(SIGTERM, abandonOnSignal);
    signal(SIGHUP, abandonOnSignal);
  }
}

}  // namespace

int main(int argc, char** argv) {
  fillClosedStandardDescriptors();
  ignoreSignalsThatWritesRaise();
  std::set_new_handler([] { abandonRun(kOutOfMemory, "Not enough memory!\n"); });
  cutBackOnInterruption();
  Application application;
  return application.run(argc, argv);
}
