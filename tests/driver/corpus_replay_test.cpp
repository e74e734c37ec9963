// Replays the fuzzing corpus and every input a fuzzer ever crashed on (kept in
// fuzz/regressions) through a whole in-memory run, with the checks the fuzzer makes:
// the copy first, nothing more after a failure, and a run in pieces on two threads
// saying and writing what a run in one piece does.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "support/in_memory_run.h"

namespace fs = std::filesystem;

namespace {

TEST(CorpusReplayTest, EveryKeptInputEndsCleanly) {
  std::size_t replayed = 0;
  for (const char* folder : {"fuzz/corpus/run", "fuzz/regressions"}) {
    const fs::path path = fs::path(PRG_SOURCE_DIR) / folder;
    if (!fs::exists(path)) {
      continue;
    }
    for (const fs::directory_entry& entry : fs::directory_iterator(path)) {
      SCOPED_TRACE(entry.path().string());
      std::ifstream file(entry.path(), std::ios::binary);
      const std::string input(std::istreambuf_iterator<char>(file), {});
      JoinWorkBudget budget(10000);
      InMemoryRun run(input, spreadOver(1, 0, 0, &budget));
      const int status = run.run();
      EXPECT_GE(status, kResultWritten);
      EXPECT_LE(status, kOutOfMemory);
      // Nothing written to memory fails; a join cut short by its budget is not whole.
      EXPECT_EQ(status == kOutputWriteFailed, budget.exhausted());
      const std::string& output = run.output();
      EXPECT_EQ(output.substr(0, input.size()), input);
      if (status != kResultWritten && !budget.exhausted()) {
        EXPECT_EQ(output.size(), input.size());
      }
      // A run cut short by the budget stops at a point that depends on the pieces.
      if (!budget.exhausted()) {
        JoinWorkBudget again(10000);
        InMemoryRun pieces(input,
                           spreadOver(2, 1 + input.size() % 23, 1 + input.size() % 3, &again));
        EXPECT_EQ(pieces.run(), status);
        EXPECT_EQ(pieces.consoleText(), run.consoleText());
        EXPECT_EQ(pieces.output(), output);
      }
      ++replayed;
    }
  }
  EXPECT_GE(replayed, 12u);
}

}  // namespace
