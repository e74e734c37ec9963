// The only unit that ends the process. As the process starts it makes what the
// system hands over safe (closed standard descriptors, the allocator, signals that
// writes raise); from then on it owns every way a run ends early: an interruption
// (SIGINT, SIGTERM, SIGHUP), a read error in the mapped input (SIGBUS), a failed
// allocation and a reader that left the output's pipe. The first of them owns the
// ending: it leaves the run's files the way that ending promises, then ends the
// process; any other waits for it. While files are given their names, an ending
// waits until they have them.
#pragma once

class Console;
class OutputFile;

class ProcessGuard {
 public:
  // Once, first thing in main.
  ProcessGuard();
  ProcessGuard(const ProcessGuard&) = delete;
  ProcessGuard& operator=(const ProcessGuard&) = delete;

  // The output the endings take care of, from the moment it is open.
  static void watchOutput(OutputFile* output);
  // The console an ending's message goes to.
  static void watchConsole(const Console* console);

  // Ends the process with status, right away: the output has its name, and
  // freeing every table would take a while for nothing. The status of a reader
  // that left the output's pipe ends it as SIGPIPE would have.
  [[noreturn]] static void exit(int status);
};

// For a failed allocation, from any thread: the output's name gets the copy of the
// input, every other temporary file is removed, message::kOutOfMemory is printed,
// status 8.
[[noreturn]] void endWithoutMemory();
