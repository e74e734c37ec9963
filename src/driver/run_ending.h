// How a run ends when it can't return to main: an interruption or a failure to get
// memory. The first of them owns the ending: it leaves the run's files the way
// that ending promises, then ends the process; any other waits for it.
#pragma once

class OutputFile;
class ProgressLine;

// The output the endings take care of, from the moment it is open.
void watchOutput(OutputFile* output);
// The line of messages an ending's own message may have to start anew.
void watchConsole(const ProgressLine* console);

// For SIGINT, SIGTERM and SIGHUP, from a signal handler or a thread that waits for
// them: only async-signal-safe calls. The output's name keeps what it held before,
// every temporary file is removed; status 128 + signal. Returns only when another
// ending owns the process, or when files are being given their names (the signal
// then ends the process right after).
void endOnSignal(int signal);

// From now on "Not enough memory!" goes to standard error: standard output carries
// the output file.
void sayMessagesOnStandardError();

// For a SIGBUS in the mapped input inside its file, from the handler: the system
// failed to read it. "Can't read input file!" (on a line of its own), the output's
// name keeps what it held before, every temporary file is removed, status 1.
// Async-signal-safe.
[[noreturn]] void endOnInputReadError();

// For a failed allocation, from any thread: the output's name gets the copy of the
// input, every other temporary file is removed, "Not enough memory!" is printed,
// status 8.
[[noreturn]] void endWithoutMemory();
