// The process around a run, tried as a hostile but fair user would: closed or
// broken consoles, resource limits, inputs too large for memory, interruptions.
// Each situation must end with its message and status, the input untouched, and an
// output file holding exactly what the run says it holds.

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "support/folder.h"

namespace {

// Under a sanitizer its own allocator answers for memory: a huge request is its
// report, not the program's, and an address-space limit leaves it no room.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kOwnAllocator = false;
#else
constexpr bool kOwnAllocator = true;
#endif

const char kOpened[] =
    "Usage: prg [inputfile] [outputfile]\nOpening input file: in.txt\nOpening output file: "
    "out.txt\n";
const char kJoined[] = "Parsing the input file complete.\nJoining the tables: .\nJoin complete.\n";

// Two tables without a common column: a product large enough to take a while.
std::string product(int rows) {
  std::string text = "join(A, B)\n\nA(a, x)\n";
  for (int i = 0; i < rows; ++i) {
    text += std::to_string(i) + ", w" + std::to_string(i % 97) + "\n";
  }
  text += "\nB(b, y)\n";
  for (int i = 0; i < rows; ++i) {
    text += std::to_string(i) + ", v" + std::to_string(i % 89) + "\n";
  }
  return text;
}

// The first bytes of its result, at least `bytes` of them.
std::string productResult(int rows, std::size_t bytes = std::string::npos) {
  std::string text = "\n\nresult(a, x, b, y)\n";
  for (int i = 0; i < rows && text.size() < bytes; ++i) {
    for (int j = 0; j < rows; ++j) {
      text += std::to_string(i) + ",w" + std::to_string(i % 97) + "," + std::to_string(j) + ",v" +
              std::to_string(j % 89) + "\n";
    }
  }
  return text;
}

TEST(ProcessTest, HostileSurroundings) {
  const std::string small = product(40);
  const std::string smallOutput = small + productResult(40);
  const std::string large = product(3000);
  // 9 x 10^8 rows: a write that fails must end the run at once, not at its end.
  const std::string huge = product(30000);
  const std::size_t limit = 2000 * 1024;
  const std::string prg = Folder::program();
  const struct {
    const char* what;
    std::string input;
    std::string command;  // run by bash in the folder
    std::string console;
    int status;
    std::optional<std::string> output;  // nullopt: out.txt holds "before"
    bool needsOwnAllocator = false;
  } cases[] = {
      {"closed stdout: nothing of the console lands in the output", small,
       prg + " in.txt out.txt >&-", "", 0, smallOutput},
      {"broken pipe: the run goes on to its end", small,
       prg + " in.txt out.txt | head -c 1; exit ${PIPESTATUS[0]}", "U", 0, smallOutput},
      {"file-size limit: a failed write, not a killed process, and at once", huge,
       "ulimit -f 2000; " + prg + " in.txt out.txt",
       std::string(kOpened) + kJoined + "Can't write output file!\n", 7,
       (huge + productResult(30000, limit)).substr(0, limit)},
      {"address-space limit: no memory for the input, the output untouched",
       "join(T)\nT(a)\n" + std::string(30u << 20, 'x') + "\n",
       "ulimit -v 20000; " + prg + " in.txt out.txt",
       "Usage: prg [inputfile] [outputfile]\nOpening input file: in.txt\nNot enough memory!\n", 8,
       std::nullopt, true},
      {"a terabyte of input: refused before the output is touched", "",
       "truncate -s 1T in.txt; " + prg + " in.txt out.txt",
       "Usage: prg [inputfile] [outputfile]\nOpening input file: in.txt\nNot enough memory!\n", 8,
       std::nullopt, true},
      {"SIGTERM while the result is written: cut back to the copy", large,
       prg + " in.txt out.txt & while [ $(stat -c%s out.txt) -le " +
           std::to_string(large.size() + 100000) +
           " ]; do sleep 0.01; done; kill -TERM $!; wait $!",
       std::string(kOpened) + kJoined, 143, large},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.needsOwnAllocator && !kOwnAllocator) {
      continue;
    }
    Folder folder;
    folder.write("in.txt", c.input);
    folder.write("out.txt", "before");
    const Folder::Outcome outcome = folder.runShell("exec bash -c '" + c.command + "'");
    EXPECT_EQ(outcome.console, c.console);
    EXPECT_EQ(outcome.status, c.status);
    const std::optional<std::string> output = folder.read("out.txt");
    ASSERT_TRUE(output.has_value());
    EXPECT_TRUE(*output == c.output.value_or("before")) << output->size() << " bytes";
    if (!c.input.empty()) {
      EXPECT_TRUE(folder.read("in.txt") == c.input);
    }
  }
}

}  // namespace
