// How a run ends: the process's exit status.
#pragma once

enum RunStatus : int {
  kResultWritten = 0,
  kFilesFailed = 1,
  kHeaderFailed = 2,
  kDescriptorFailed = 3,
  kTableDataFailed = 4,
  kNoTablesToJoin = 5,
  kTableNotFound = 6,
  kOutputWriteFailed = 7,
  kOutOfMemory = 8,
  // The reader of the output's pipe left: the run ends silently, as SIGPIPE's
  // default action would end it.
  kOutputReaderLeft = 128 + 13,
};
