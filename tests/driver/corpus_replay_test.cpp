// Replays the fuzzing corpus and every input a fuzzer ever crashed on (kept in
// fuzz/regressions) through a whole in-memory run, with the checks the fuzzer makes.

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
      InMemoryRun run(input, JoinWorkLimit{10000});
      const int status = run.run();
      EXPECT_GE(status, kResultWritten);
      EXPECT_LE(status, kOutputWriteFailed);
      const std::string& output = run.output();
      EXPECT_EQ(output.substr(0, input.size()), input);
      if (status != kResultWritten && status != kOutputWriteFailed) {
        EXPECT_EQ(output.size(), input.size());
      }
      ++replayed;
    }
  }
  EXPECT_GE(replayed, 12u);
}

}  // namespace
