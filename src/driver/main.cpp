// The process around a run: what the system hands over is made safe first, then
// the command line runs on the console and the files on disk.

#include <unistd.h>

#include "driver/console.h"
#include "driver/process_guard.h"
#include "driver/run.h"

int main(int argc, char** argv) {
  const ProcessGuard guard;
  DescriptorBuffer standardOutput(STDOUT_FILENO);
  DescriptorBuffer standardError(STDERR_FILENO);
  Console::Terminal terminal;
  terminal.shared = isatty(STDOUT_FILENO) == 1 && isatty(STDERR_FILENO) == 1;
  terminal.progressDescriptor = STDERR_FILENO;
  Console console(standardOutput, standardError, terminal);
  ProcessGuard::watchConsole(&console);
  DiskFiles files;
  const int status = runCommandLine(argc, argv, console, files, RunSettings{}, ProcessGuard::exit);
  console.finish();
  ProcessGuard::exit(status);
}
