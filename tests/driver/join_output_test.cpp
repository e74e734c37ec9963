// Whole runs on generated files, compared with a straightforward join written here:
// every pair of rows compared, the chain folded from left to right, the result
// written cell by cell. Cells are laid out in the input both tidily ("a,b") and with
// spaces around them, so that every way of writing a row is exercised.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/csv_records.h"
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

    // One thread in one piece, then several threads taking pieces so small that
    // tables, rows and output parts are cut at every possible place.
    const std::size_t cut = static_cast<std::size_t>(round);
    const RunSettings ways[] = {spreadOver(1), spreadOver(2, 1 + cut % 40, 1 + cut % 3),
                                spreadOver(3, 7, 1)};
    for (const RunSettings& settings : ways) {
      SCOPED_TRACE(settings.parallelism.threads);
      InMemoryRun run(input, settings);
      ASSERT_EQ(run.run(), kResultWritten) << input << run.consoleText();
      ASSERT_EQ(run.output(), input + renderResult(expected)) << input;
    }
    // The joined table alone, as CSV: the column keys, then every row, whatever its
    // cells hold.
    InMemoryRun csv(input);
    ASSERT_EQ(csv.run({"--result", "csv"}), kResultWritten) << input;
    std::vector<Strings> records = {{}};
    for (const std::string& column : expected.columns) {
      records.front().push_back(referenceKey(column));
    }
    records.insert(records.end(), expected.rows.begin(), expected.rows.end());
    ASSERT_EQ(readCsv(csv.output()), records) << input;
    InMemoryRun tsv(input);
    ASSERT_EQ(tsv.run({"--result", "tsv"}), kResultWritten) << input;
    ASSERT_EQ(readTsv(tsv.output()), records) << input;
  }
}

// Whatever the pieces, a failing input reports what one pass from the start would:
// the first failure in the file, even when a later piece fails too and finishes
// first.
TEST(JoinOutputTest, ParallelParsingReportsTheFirstFailure) {
  const std::string tables[] = {
      "A(a, b)\n1, 2\n3, 4\n5, 6\n\nB(c)\n7\n8, 9\n\nC(d\n",
      "A(a, b)\n1, 2\n3\n\nB(c)\n7, 8\n",
      "A(a)\n1\n2\n\nB(c\n\nC(d, e)\n1\n",
      "A(a)\n1\n2\n3\n4\n5, 6\n7\n8\n9, 0\n",
      "A(a, b)\n'x, y', z\n'p, q\n\nB b)\n",
  };
  for (const std::string& body : tables) {
    const std::string input = "join(A, B)\n" + body;
    InMemoryRun single(input);
    const int status = single.run();
    ASSERT_NE(status, kResultWritten);
    for (std::size_t pieceBytes = 1; pieceBytes < input.size(); ++pieceBytes) {
      SCOPED_TRACE(input + " in pieces of " + std::to_string(pieceBytes));
      InMemoryRun run(input, spreadOver(2, pieceBytes, 1));
      EXPECT_EQ(run.run(), status);
      EXPECT_EQ(run.consoleText(), single.consoleText());
      EXPECT_EQ(run.output(), input);
    }
  }
}

// The indexes built while the copy is written are the ones built after it: the run
// says the same, in the same order, and writes the same, whatever it finds.
TEST(JoinOutputTest, IndexingWhileCopyingChangesNothing) {
  std::vector<std::string> inputs = {
      "join(A, B, A)\nA(k, a)\n1, x\n2, y\n\nB(k, b)\n1, p\n1, q\n",
      "join(A, B)\nA(a)\n1\n2\n\nB(b)\n3\n4\n",
      "join(A, C)\nA(k)\n1\n\nB(k)\n1\n",
      "join(A, B)\nA(k, a)\n1, x\n\nB(k, b)\n1\n",
      "join(A, B\nA(k)\n1\n",
      "join()\nA(k)\n1\n",
      "join(A, B, B)\nA(k, a)\n1, 'x, y'\n\nB(k, a)\n1, 'x, y'\n\nB(k)\n2\n",
  };
  RandomTables generator(7);
  for (int round = 0; round < 200; ++round) {
    std::string header = "join(";
    std::string body;
    for (int t = 0; t < 1 + round % 4; ++t) {
      const PlainTable table = generator.table(std::string("T").append(std::to_string(t)), true);
      header.append(t == 0 ? "" : ", ").append(table.name);
      body.append("\n").append(generator.input(table));
    }
    inputs.push_back(header + ")\n" + body);
  }
  for (const std::string& input : inputs) {
    SCOPED_TRACE(input);
    RunSettings overlapped = spreadOver(2, 64, 2);
    RunSettings inOrder = overlapped;
    inOrder.indexWhileCopying = false;
    InMemoryRun whileCopying(input, overlapped);
    InMemoryRun afterCopy(input, inOrder);
    EXPECT_EQ(whileCopying.run(), afterCopy.run());
    EXPECT_EQ(whileCopying.consoleBytes(), afterCopy.consoleBytes());
    EXPECT_EQ(whileCopying.diagnostics(), afterCopy.diagnostics());
    EXPECT_TRUE(whileCopying.output() == afterCopy.output());
  }
}

}  // namespace
