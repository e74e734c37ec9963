// Whole runs on generated files, compared with a straightforward join written here:
// every pair of rows compared, the chain folded from left to right, the result
// written cell by cell. Cells are laid out in the input both tidily ("a,b") and with
// spaces around them, so that every way of writing a row is exercised.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/in_memory_run.h"
#include "support/reference_join.h"

namespace {

TEST(JoinOutputTest, RunsMatchReferenceJoin) {
  RandomTables generator(2024);
  for (int round = 0; round < 1500; ++round) {
    SCOPED_TRACE(round);
    const std::size_t tableCount = 1 + round % 4;
    std::vector<PlainTable> tables;
    std::string header = "join(";
    std::string body;
    for (std::size_t t = 0; t < tableCount; ++t) {
      tables.push_back(generator.table(std::string("T").append(std::to_string(t)), true));
      header.append(t == 0 ? "" : ", ").append(tables.back().name);
      body.append("\n").append(generator.input(tables.back()));
    }
    const std::string input = header.append(")\n").append(body);
    PlainTable expected = tables.front();
    for (std::size_t t = 1; t < tableCount; ++t) {
      expected = referenceJoin(expected, tables[t]);
    }
    expected.name = "result";

    InMemoryRun run(input);
    ASSERT_EQ(run.run(), kResultWritten) << input << run.consoleText();
    ASSERT_EQ(run.output(), input + renderResult(expected)) << input;
  }
}

}  // namespace
