// Inputs built to break a parser or a join: huge lines, huge counts, odd bytes.
// Every one must end with the exact message and status, and with the output holding
// the copy of the input and, on success, the result.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "support/changing_input.h"
#include "support/in_memory_run.h"
#include "support/spaced_table.h"

namespace {

const char kJoined[] = "Parsing the input file complete.\nJoining the tables: ";
const char kDone[] = "\nJoin complete.\nOutput written.";

TEST(HostileInputTest, FiftyMegabyteCell) {
  const std::string cell(50u << 20, 'x');
  const std::string input = "join(T)\nT(a)\n" + cell + "\n";
  InMemoryRun run(input);
  EXPECT_EQ(run.run(), kResultWritten);
  EXPECT_TRUE(run.output() == input + "\n\nresult(a)\n" + cell + "\n");
}

TEST(HostileInputTest, HundredThousandColumns) {
  std::string descriptor = "T(";
  std::string row;
  for (int i = 0; i < 100000; ++i) {
    descriptor.append(i == 0 ? "c" : ", c").append(std::to_string(i));
    row.append(i == 0 ? "" : ",").append(std::to_string(i % 7));
  }
  descriptor += ")";
  const std::string input = "join(T, T)\n" + descriptor + "\n" + row + "\n";
  InMemoryRun run(input);
  EXPECT_EQ(run.run(), kResultWritten);
  EXPECT_EQ(run.consoleText(), std::string(kJoined) + "." + kDone);
  const std::string resultDescriptor = "result" + descriptor.substr(1);
  EXPECT_TRUE(run.output() == input + "\n\n" + resultDescriptor + "\n" + row + "\n");
}

TEST(HostileInputTest, HundredThousandTables) {
  std::string input = "join(T0, T99999)\n";
  for (int i = 0; i < 100000; ++i) {
    input +=
        "\nT" + std::to_string(i) + "(c" + std::to_string(i) + ")\nv" + std::to_string(i) + "\n";
  }
  InMemoryRun run(input);
  EXPECT_EQ(run.run(), kResultWritten);
  EXPECT_EQ(run.output(), input + "\n\nresult(c0, c99999)\nv0,v99999\n");
}

TEST(HostileInputTest, HeaderNamingTenThousandTables) {
  std::string header = "join(";
  std::string tables;
  std::string columns;
  std::string cells;
  for (int i = 0; i < 10000; ++i) {
    const std::string n = std::to_string(i);
    header.append(i == 0 ? "T" : ", T").append(n);
    tables.append("\nT").append(n).append("(c").append(n).append(")\n").append(n).append("\n");
    columns.append(i == 0 ? "c" : ", c").append(n);
    cells.append(i == 0 ? "" : ",").append(n);
  }
  const std::string input = header + ")\n" + tables;
  InMemoryRun run(input);
  EXPECT_EQ(run.run(), kResultWritten);
  EXPECT_EQ(run.consoleText(), std::string(kJoined) + std::string(9999, '.') + kDone);
  EXPECT_EQ(run.output(), input + "\n\nresult(" + columns + ")\n" + cells + "\n");
}

// A header that names the same table many times: each step is a loop iteration, not
// a stack frame, and the table is indexed once for all of them.
TEST(HostileInputTest, OneTableNamedOverAndOver) {
  const struct {
    std::size_t times;
    std::string table;
    std::string result;
  } cases[] = {
      {30000, "A(k)\n1\n", "result(k)\n1\n"},
      {4000, "A(k, v)\n1, a\n2, b\n3, c\n", "result(k, v)\n1,a\n2,b\n3,c\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.times);
    std::string header = "join(A";
    for (std::size_t i = 1; i < c.times; ++i) {
      header += ", A";
    }
    const std::string input = header + ")\n" + c.table;
    InMemoryRun run(input);
    EXPECT_EQ(run.run(), kResultWritten);
    EXPECT_EQ(run.consoleText(), std::string(kJoined) + std::string(c.times - 1, '.') + kDone);
    EXPECT_EQ(run.output(), input + "\n\n" + c.result);
  }
}

// Names are looked up through an index: 20,000 names among 200,000 tables.
TEST(HostileInputTest, HeaderNamingTheLastOfManyTables) {
  std::string header = "join(";
  std::string tables;
  std::string columns;
  std::string cells;
  for (int i = 0; i < 200000; ++i) {
    const std::string n = std::to_string(i);
    tables.append("\nT").append(n).append("(c").append(n).append(")\n").append(n).append("\n");
    if (i >= 180000) {
      header.append(i == 180000 ? "T" : ", T").append(n);
      columns.append(i == 180000 ? "c" : ", c").append(n);
      cells.append(i == 180000 ? "" : ",").append(n);
    }
  }
  const std::string input = header + ")\n" + tables;
  InMemoryRun run(input);
  EXPECT_EQ(run.run(), kResultWritten);
  EXPECT_EQ(run.output(), input + "\n\nresult(" + columns + ")\n" + cells + "\n");
}

TEST(HostileInputTest, HeaderNamingTenThousandMissingTables) {
  std::string header = "join(";
  for (int i = 0; i < 10000; ++i) {
    header.append("M").append(std::to_string(i)).append(",");
  }
  InMemoryRun run(header + ")");
  EXPECT_EQ(run.run(), kTableNotFound);
  EXPECT_EQ(run.consoleText(), std::string(kJoined) + "Table M0not found!\n");
}

TEST(HostileInputTest, OddBytesInNamesAndCells) {
  using namespace std::string_literals;
  const std::string name = "T\xff\x00\x80"s;
  const std::string input = "join("s + name + ")\n" + name + "(a\xc3\x28, \x00\xfe b)\n"s +
                            "\x00\xfe, \xff\xff\n \x01 ,\xed\xa0\x80\n"s;
  InMemoryRun run(input);
  EXPECT_EQ(run.run(), kResultWritten);
  EXPECT_EQ(run.output(),
            input + "\n\nresult(a\xc3\x28, \x00\xfe b)\n\x00\xfe,\xff\xff\n\x01,\xed\xa0\x80\n"s);
}

TEST(HostileInputTest, UnbalancedApostropheOnMegabyteLine) {
  std::string line = "'";
  while (line.size() < (1u << 20)) {
    line += "x,y,";
  }
  line += "z";
  InMemoryRun run("join(T)\nT(a, b)\n" + line + "\n");
  EXPECT_EQ(run.run(), kTableDataFailed);
  EXPECT_EQ(run.consoleText(),
            line + "|\nrszie: 1 ; colsize: 2\nWrong number of columns in line: " + line +
                "\nError reading table data from table: T\n");
}

TEST(HostileInputTest, NoLineEndAtAll) {
  const struct {
    std::string input;
    int status;
    std::string console;
  } cases[] = {
      {"join(T)", kTableNotFound, std::string(kJoined) + "Table Tnot found!\n"},
      {"join(T)T(a)", kTableNotFound, std::string(kJoined) + "Table T)T(anot found!\n"},
      {"T(a)", kHeaderFailed, "Incorrect header"},
      {"\r", kHeaderFailed, "Incorrect header"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.input);
    InMemoryRun run(c.input);
    EXPECT_EQ(run.run(), c.status);
    EXPECT_EQ(run.consoleText(), c.console);
    EXPECT_EQ(run.output(), c.input);
  }
}

// A run on input, on two threads and in small pieces, that change makes other at
// the asking-th time the run asks whether it changed.
InMemoryRun runOnChangingInput(const std::string& input, int asking, ChangingInput::Change change) {
  return InMemoryRun(
      [input, asking, change] { return std::make_unique<ChangingInput>(input, asking, change); },
      spreadOver(2, 1 << 16, 4096));
}

// Rewritten in place between any two stages with other bytes of the same size, the
// input is read again only as far as its check reserved: the run ends with a
// status of its own, says once that the input changed, and its output copies the
// text as the copy read it.
TEST(HostileInputTest, InputRewrittenBetweenStages) {
  const std::string input =
      "join(A, B, A)\n\n" + spacedTable("A", 40000) + "\n" + spacedTable("B", 5000, 7);
  const struct {
    const char* name;
    ChangingInput::Change change;
  } kinds[] = {{"commas", ChangingInput::commasDoubled},
               {"lines", ChangingInput::commasToLineEnds},
               {"cut", ChangingInput::cutInHalf}};
  for (const auto& kind : kinds) {
    std::string changed = input;
    kind.change(changed);
    for (int asking = 1; asking <= 10; ++asking) {
      SCOPED_TRACE(std::string(kind.name) + " at asking " + std::to_string(asking));
      InMemoryRun run = runOnChangingInput(input, asking, kind.change);
      const int status = run.run();
      EXPECT_GE(status, 0);
      EXPECT_LE(status, 8);
      const std::string errors = run.diagnostics();
      EXPECT_NE(errors.find(kInputChangedHint), std::string::npos) << errors;
      EXPECT_EQ(errors.find(kInputChangedHint), errors.rfind(kInputChangedHint)) << errors;
      // Only a change before the copy is written is in it.
      const std::string& copied = asking == 1 ? changed : input;
      EXPECT_TRUE(run.output().compare(0, copied.size(), copied) == 0);
    }
  }
}

// An input cut before it is checked: the run goes on with the text as it read it,
// the part cut off as zero bytes, says so, and gives what a run on that text gives.
TEST(HostileInputTest, InputCutBeforeItIsCheckedIsUsedAsRead) {
  const std::string input =
      "join(A, B)\n\n" + spacedTable("A", 400) + "\n" + spacedTable("B", 400, 3);
  std::string seen = input;
  ChangingInput::cutInHalf(seen);
  InMemoryRun cut = runOnChangingInput(input, 1, ChangingInput::cutInHalf);
  InMemoryRun again(seen, spreadOver(2, 1 << 16, 4096));
  EXPECT_EQ(cut.run(), again.run());
  EXPECT_EQ(cut.consoleBytes(), again.consoleBytes());
  EXPECT_EQ(cut.diagnostics(), kInputChangedHint + again.diagnostics());
  EXPECT_TRUE(cut.output() == again.output());
}

}  // namespace
