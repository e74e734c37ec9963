// How a run ends when it can't return to main: an interruption or a failure to get
// memory. Either ends the process at once, and the run's output, once it is open,
// is left the way that ending promises.
#pragma once

class OutputFile;

// The output the endings take care of, from the moment it is open.
void watchOutput(OutputFile* output);

// For SIGINT, SIGTERM and SIGHUP, from a signal handler or a thread that waits for
// them: only async-signal-safe calls. The output's name keeps what it held before;
// status 128 + signal.
[[noreturn]] void endOnSignal(int signal);

// For a failed allocation, from any thread: the output's name gets the copy of the
// input, "Not enough memory!" is printed, status 8.
[[noreturn]] void endWithoutMemory();
