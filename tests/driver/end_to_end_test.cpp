// Runs the built program in a fresh folder and compares console bytes, exit status
// and the files it leaves behind.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "support/folder.h"

namespace fs = std::filesystem;

namespace {

const char kUsage[] = "Usage: prg [inputfile] [outputfile]\n";
const char kGuess[] =
    "Can't gues the output file. Input file name should look like input***** to gues the "
    "output file \n";
const char kTypical[] = "join(A, B)\n\nA(id int, name)\n1, x\n2, y\n\nB(id, price)\n1, 10\n";
const char kTypicalResult[] = "\n\nresult(id int, name, price)\n1,x,10\n";
const char kJoined[] =
    "Parsing the input file complete.\nJoining the tables: .\nJoin complete.\nOutput written.";

std::string opening(const std::string& input, const std::string& output) {
  return std::string(kUsage) + "Opening input file: " + input + "\nOpening output file: " + output +
         "\n";
}

struct RunCase {
  const char* what;
  std::map<std::string, std::string> files;  // created before the run
  std::string arguments;
  std::string console;
  int status;
  std::map<std::string, std::optional<std::string>> expected;  // nullopt: must not exist
};

void check(const RunCase& c) {
  SCOPED_TRACE(c.what);
  Folder folder;
  for (const auto& [name, content] : c.files) {
    folder.write(name, content);
  }
  const Folder::Outcome outcome = folder.runPrg(c.arguments);
  EXPECT_EQ(outcome.console, c.console);
  EXPECT_EQ(outcome.status, c.status);
  for (const auto& [name, content] : c.expected) {
    SCOPED_TRACE(name);
    EXPECT_EQ(folder.read(name), content);
  }
}

TEST(EndToEndTest, ChoosingTheFiles) {
  const std::string typical = kTypical;
  const std::string result = typical + kTypicalResult;
  const RunCase cases[] = {
      {"no arguments, no input1k.txt",
       {},
       "",
       std::string(kUsage) + "Opening input file: input1k.txt\nCan't open input file!\n",
       1,
       {{"output1k.txt", std::nullopt}}},
      {"no arguments",
       {{"input1k.txt", typical}},
       "",
       opening("input1k.txt", "output1k.txt") + kJoined,
       0,
       {{"output1k.txt", result}, {"input1k.txt", typical}}},
      {"input_big.txt",
       {{"input_big.txt", typical}},
       "input_big.txt",
       opening("input_big.txt", "output_big.txt") + kJoined,
       0,
       {{"output_big.txt", result}}},
      {"input",
       {{"input", typical}},
       "input",
       opening("input", "output") + kJoined,
       0,
       {{"output", result}}},
      {"inputs.csv",
       {{"inputs.csv", typical}},
       "inputs.csv",
       opening("inputs.csv", "outputs.csv") + kJoined,
       0,
       {{"outputs.csv", result}}},
      {"Input1.txt",
       {{"Input1.txt", typical}},
       "Input1.txt",
       std::string(kUsage) + kGuess,
       1,
       {{"Output1.txt", std::nullopt}, {"output1.txt", std::nullopt}}},
      {"data/input1.txt",
       {{"data/input1.txt", typical}},
       "data/input1.txt",
       std::string(kUsage) + kGuess,
       1,
       {{"data/output1.txt", std::nullopt}}},
      {"three arguments",
       {{"a", typical}},
       "a b c",
       std::string(kUsage) + "Too many arguments!\n",
       1,
       {{"b", std::nullopt}}},
      {"two names",
       {{"in.txt", typical}},
       "in.txt out.txt",
       opening("in.txt", "out.txt") + kJoined,
       0,
       {{"out.txt", result}}},
  };
  for (const RunCase& c : cases) {
    check(c);
  }
}

TEST(EndToEndTest, FileFailuresLoseNothing) {
  const std::string typical = kTypical;
  const std::string old = "previous content\n";
  const std::string same = opening("in.txt", "in.txt") + "Input and output file are the same!\n";
  const RunCase cases[] = {
      {"missing input",
       {{"out.txt", old}},
       "missing.txt out.txt",
       std::string(kUsage) + "Opening input file: missing.txt\nCan't open input file!\n",
       1,
       {{"out.txt", old}}},
      {"directory as input",
       {{"dir/x", ""}, {"out.txt", old}},
       "dir out.txt",
       std::string(kUsage) + "Opening input file: dir\nCan't open input file!\n",
       1,
       {{"out.txt", old}}},
      {"read error",
       {{"out.txt", old}},
       "/proc/self/mem out.txt",
       std::string(kUsage) + "Opening input file: /proc/self/mem\nCan't read input file!\n",
       1,
       {{"out.txt", old}}},
      {"output in a missing folder",
       {{"in.txt", typical}},
       "in.txt nowhere/out.txt",
       opening("in.txt", "nowhere/out.txt") + "Can't open output file!\n",
       1,
       {{"in.txt", typical}}},
      {"same file", {{"in.txt", typical}}, "in.txt in.txt", same, 1, {{"in.txt", typical}}},
      {"same file as ./name",
       {{"in.txt", typical}},
       "in.txt ./in.txt",
       opening("in.txt", "./in.txt") + "Input and output file are the same!\n",
       1,
       {{"in.txt", typical}}},
      {"same file through a link",
       {{"in.txt", typical}},
       "in.txt link.txt",
       opening("in.txt", "link.txt") + "Input and output file are the same!\n",
       1,
       {{"in.txt", typical}}},
      {"standard output that is the input, appended to",
       {{"in.txt", typical}},
       "in.txt - >> in.txt 2> err.txt",
       "",
       1,
       {{"in.txt", typical},
        {"err.txt", opening("in.txt", "-") + "Input and output file are the same!\n"}}},
      {"standard input that is the output",
       {{"out.txt", typical}},
       "- out.txt < out.txt",
       opening("-", "out.txt") + "Input and output file are the same!\n",
       1,
       {{"out.txt", typical}}},
      {"standard output closed as the run started",
       {{"in.txt", typical}},
       "in.txt - 2>&1 >&-",
       opening("in.txt", "-") +
           "Can't open output file!\nprg: hint: (standard output): Bad file descriptor\n",
       1,
       {{"in.txt", typical}}},
      {"/dev/fd/1 closed as the run started",
       {{"in.txt", typical}},
       "in.txt /dev/fd/1 >&- 2> err.txt",
       "",
       1,
       {{"in.txt", typical},
        {"err.txt", opening("in.txt", "/dev/fd/1") +
                        "Can't open output file!\nprg: hint: /dev/fd/1: Bad file descriptor\n"}}},
      {"an export whose table's file is the input",
       {{"A.csv", typical}},
       "--csv . A.csv",
       std::string(kUsage) + "Opening input file: A.csv\nInput and output file are the same!\n",
       1,
       {{"A.csv", typical}, {"B.csv", std::nullopt}, {"join.sql", std::nullopt}}},
      {"an export whose join.sql is the input",
       {{"join.sql", typical}},
       "--csv . join.sql",
       std::string(kUsage) + "Opening input file: join.sql\nInput and output file are the same!\n",
       1,
       {{"join.sql", typical}, {"A.csv", std::nullopt}, {"B.csv", std::nullopt}}},
      {"full disk",
       {{"in.txt", typical}},
       "in.txt /dev/full",
       opening("in.txt", "/dev/full") + "Can't write output file!\n",
       7,
       {{"in.txt", typical}}},
  };
  for (const RunCase& c : cases) {
    if (std::string(c.what) == "same file through a link") {
      Folder folder;
      folder.write("in.txt", typical);
      fs::create_symlink("in.txt", folder.path() / "link.txt");
      const Folder::Outcome outcome = folder.runPrg(c.arguments);
      SCOPED_TRACE(c.what);
      EXPECT_EQ(outcome.console, c.console);
      EXPECT_EQ(outcome.status, c.status);
      EXPECT_EQ(folder.read("in.txt"), typical);
      continue;
    }
    check(c);
  }
}

// An export that fails, or is interrupted, leaves no folder it made.
TEST(EndToEndTest, AnExportLeavesNoFolderItMadeWhenItFails) {
  const struct {
    const char* what;
    std::string input;
    std::string command;
    int status;
  } cases[] = {
      {"a refused row", "join(A)\n\nA(id, x)\n1, 2, 3\n",
       Folder::program() + " --csv made/deeper in.txt > /dev/null", 4},
      {"an interruption while the input is still coming", "",
       "mkfifo feed && { " + Folder::program() +
           " --csv made/deeper - < feed > /dev/null & pid=$!; { printf "
           "'join(A)\\n\\nA(id)\\n1\\n'; "
           "sleep 3; } > feed & sleep 0.5; kill -TERM $pid; wait $pid; }",
       143},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Folder folder;
    folder.write("in.txt", c.input);
    EXPECT_EQ(folder.runShell(c.command).status, c.status);
    std::vector<std::string> names = folder.names();
    std::erase(names, "feed");
    EXPECT_EQ(names, std::vector<std::string>{"in.txt"});
  }
}

TEST(EndToEndTest, WholeRuns) {
  const std::string noFinalLineEnd = "join(A, B)\nA(id int, name)\n1, x\n\nB(id, price)\n1, 10";
  const std::string crlf =
      "join(A, B)\r\n\r\nA(id int, name)\r\n1, x\r\n\r\nB(id, price)\r\n1, 10\r\n";
  const std::string cells =
      "join(L, R)\nL(k, l)\n1, a\nAnn, b\n, c\n\nR(k, r)\n01, x\nann, y\n, z\n";
  const std::string bad = "join(T)\nT(id, name)\n1, x, y\n";
  const std::string three = std::string(kTypical) + "\nC(price, tag)\n10, t\n";
  const std::string parsed = opening("in.txt", "out.txt") + "Parsing the input file complete.\n";
  const RunCase cases[] = {
      {"no final line end",
       {{"in.txt", noFinalLineEnd}},
       "in.txt out.txt",
       opening("in.txt", "out.txt") + kJoined,
       0,
       {{"out.txt", noFinalLineEnd + kTypicalResult}}},
      {"crlf line ends",
       {{"in.txt", crlf}},
       "in.txt out.txt",
       opening("in.txt", "out.txt") + kJoined,
       0,
       {{"out.txt", crlf + kTypicalResult}}},
      {"cells compared exactly",
       {{"in.txt", cells}},
       "in.txt out.txt",
       opening("in.txt", "out.txt") + kJoined,
       0,
       {{"out.txt", cells + "\n\nresult(k, l, r)\n,c,z\n"}}},
      {"empty input",
       {{"in.txt", ""}},
       "in.txt out.txt",
       opening("in.txt", "out.txt") + "Incorrect header",
       2,
       {{"out.txt", ""}}},
      {"bad data line keeps the copy",
       {{"in.txt", bad}},
       "in.txt out.txt",
       opening("in.txt", "out.txt") +
           "1| x| y|\nrszie: 3 ; colsize: 2\nWrong number of columns in line: 1, x, y\n"
           "Error reading table data from table: T\n",
       4,
       {{"out.txt", bad}}},
  };
  for (const RunCase& c : cases) {
    check(c);
  }
}

// Inputs that are not plain files of known size, and writes that fail after the copy.
TEST(EndToEndTest, PipesLargeCopiesAndLateWriteFailures) {
  Folder folder;
  std::string big = kTypical;
  big += "\nC(c)\n";
  while (big.size() < (3u << 20)) {
    big += "some filler cell text\n";
  }
  folder.write("big.txt", big);
  const Folder::Outcome piped =
      folder.runShell("cat big.txt | " + Folder::program() + " /dev/stdin out.txt");
  EXPECT_EQ(piped.status, 0);
  EXPECT_TRUE(folder.read("out.txt") == big + kTypicalResult);

  const Folder::Outcome full = folder.runPrg("big.txt /dev/full");
  EXPECT_EQ(full.console, opening("big.txt", "/dev/full") + "Can't write output file!\n");
  EXPECT_EQ(full.status, 7);

  // The copy fits under a file size limit of one block, the result does not.
  std::string small = "join(A, B)\nA(a)\n";
  for (int i = 0; i < 40; ++i) {
    small += std::to_string(i) + "\n";
  }
  small += "\nB(b)\nxxxxxxxxxxxxxxxxxxxxxxxx\n";
  folder.write("small.txt", small);
  const Folder::Outcome limited =
      folder.runShell("trap '' XFSZ; ulimit -f 1; " + Folder::program() + " small.txt limited.txt");
  EXPECT_EQ(limited.console, opening("small.txt", "limited.txt") +
                                 "Parsing the input file complete.\nJoining the tables: .\n"
                                 "Join complete.\nCan't write output file!\n");
  EXPECT_EQ(limited.status, 7);
  EXPECT_EQ(folder.read("limited.txt")->substr(0, small.size()), small);
}

// Whatever the outcome, the input keeps its bytes, the output holds nothing or the
// copy of the input or the whole result, and no other file appears.
TEST(EndToEndTest, NothingLostOnAnyStatus) {
  const std::string typical = kTypical;
  const struct {
    const char* what;
    std::string input;
    std::string arguments;
    int status;
    std::optional<std::string> output;  // of out.txt; nullopt: not created
  } cases[] = {
      {"success", typical, "in.txt out.txt", 0, typical + kTypicalResult},
      {"too many arguments", typical, "in.txt out.txt x", 1, std::nullopt},
      {"missing input", typical, "none.txt out.txt", 1, std::nullopt},
      {"same file", typical, "in.txt ./in.txt", 1, std::nullopt},
      {"output folder missing", typical, "in.txt no/out.txt", 1, std::nullopt},
      {"header", "join A\n", "in.txt out.txt", 2, "join A\n"},
      {"descriptor", "join(A)\nA(a\n", "in.txt out.txt", 3, "join(A)\nA(a\n"},
      {"data row", "join(A)\nA(a)\n1,2\n", "in.txt out.txt", 4, "join(A)\nA(a)\n1,2\n"},
      {"no tables", "join()\n", "in.txt out.txt", 5, "join()\n"},
      {"missing table", "join(B)\nA(a)\n", "in.txt out.txt", 6, "join(B)\nA(a)\n"},
      {"full disk", typical, "in.txt /dev/full", 7, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Folder folder;
    folder.write("in.txt", c.input);
    EXPECT_EQ(folder.runPrg(c.arguments).status, c.status);
    EXPECT_EQ(folder.read("in.txt"), c.input);
    EXPECT_EQ(folder.read("out.txt"), c.output);
    std::size_t entries = 0;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder.path())) {
      const std::string name = entry.path().filename().string();
      EXPECT_TRUE(name == "in.txt" || (name == "out.txt" && c.output)) << name;
      ++entries;
    }
    EXPECT_EQ(entries, c.output ? 2u : 1u);
  }
}

// What a user sees for the usual mistakes: standard output exactly as ever, and on
// standard error a warning or a hint, one line each.
TEST(EndToEndTest, WarningsAndHintsGoToStandardError) {
  std::string manyTables = "join(orders, customres)\n\norders(id, cid)\n1, 2\n\n";
  for (int i = 0; i < 200; ++i) {
    manyTables += "table" +
                  std::string(i < 10    ? "00"
                              : i < 100 ? "0"
                                        : "") +
                  std::to_string(i) + "(a)\n1\n\n";
  }
  manyTables += "customers(cid, name)\n2, Zoe\n\ncustom(x)\n1\n";
  const std::string opened = opening("in.txt", "out.txt");
  const std::string parsed = "Parsing the input file complete.\n";
  const struct {
    const char* what;
    std::string input;
    std::string console;
    std::string errors;
    int status;
  } cases[] = {
      {"keys that differ in case: every pairing",
       "join(A, B)\n\nA(ID, x)\n1, a\n2, b\n\nB(id, y)\n1, c\n", opened + kJoined,
       "prg: warning: A and B share no column: every pairing, 2 x 1 rows\n"
       "prg: warning: the column id of B and the column ID before it differ only in letter case\n",
       0},
      {"a key with a trailing tab", "join(A, B)\n\nA(id, x)\n1, a\n\nB(id\t, y)\n1, c\n",
       opened + kJoined,
       "prg: warning: A and B share no column: every pairing, 1 x 1 rows\n"
       "prg: warning: the column id\\t of B and the column id before it differ only in tabs or "
       "carriage returns\n",
       0},
      {"a later table that shares nothing", "join(A, B, C)\n\nA(k)\n1\n\nB(k)\n1\n\nC(z)\n7\n8\n",
       opened + parsed + "Joining the tables: ..\nJoin complete.\nOutput written.",
       "prg: warning: C shares no column with the tables before it: each joined row is paired "
       "with its 2 rows\n",
       0},
      {"a result without rows", "join(A, B)\n\nA(k, x)\n1, 2\n\nB(k, y)\n3, 4\n", opened + kJoined,
       "prg: warning: the result has no rows: no row of B matches the rows joined before it\n", 0},
      {"an empty table", "join(A, B)\n\nA(k, x)\n1, 2\n\nB(k, y)\n", opened + kJoined,
       "prg: warning: the result has no rows: B has none\n", 0},
      {"a byte order mark", "\xEF\xBB\xBFjoin(A)\n\nA(x)\n1\n", opened + "Incorrect header",
       "prg: hint: the file starts with a byte order mark (EF BB BF) before join(; save it "
       "without one\n",
       2},
      {"a blank line before the header", "\njoin(A)\n\nA(x)\n1\n", opened + "Incorrect header",
       "prg: hint: the join header must be the very first line; the file starts with a blank "
       "line\n",
       2},
      {"a row with too few cells", "join(A)\n\nA(id, x)\n1, 2\n3\n",
       opened + "3|\nrszie: 1 ; colsize: 2\nWrong number of columns in line: 3\n"
                "Error reading table data from table: A\n",
       "prg: hint: in.txt:5: the refused line\n", 4},
      {"a descriptor without the blank line before it", "join(A, B)\n\nA(id)\n1\nB(id, y)\n1, 3\n",
       opened + "B(id| y)|\nrszie: 2 ; colsize: 1\nWrong number of columns in line: B(id, y)\n"
                "Error reading table data from table: A\n",
       "prg: hint: in.txt:5: the refused line\n"
       "prg: hint: it reads as the descriptor of a new table: a blank line must come before it\n",
       4},
      {"a descriptor read as a row", "join(A, B)\n\nA(id, x)\n1, 2\nB(id, y)\n1, 3\n",
       opened + parsed + "Joining the tables: Table Bnot found!\n",
       "prg: hint: the file holds 1 table: A\n"
       "prg: hint: in.txt:5: reads as a row of A, not as the descriptor of B: a blank line must "
       "come before it\n",
       6},
      {"a space before the parenthesis", "join(A)\n\nA (id, x)\n1, 2\n",
       opened + parsed + "Joining the tables: Table Anot found!\n",
       "prg: hint: the file holds 1 table: A \n"
       "prg: hint: a table is named \"A \": a space before the parenthesis is part of the name\n",
       6},
      {"a name in another case", "join(a)\n\nA(x)\n1\n\nB(y)\n2\n",
       opened + parsed + "Joining the tables: Table anot found!\n",
       "prg: hint: the file holds 2 tables: A, B\n"
       "prg: hint: a table is named A, which differs only in letter case\n",
       6},
      {"invisible bytes in names are shown",
       "join(people)\n\n\xEF\xBB\xBFpeople(x)\n1\n\nB\tc(y)\n2\n",
       opened + parsed + "Joining the tables: Table peoplenot found!\n",
       "prg: hint: the file holds 2 tables: <BOM>people, B\\tc\n", 6},
      {"a table defined twice, a key given twice", "join(A)\n\nA(id, id, x)\n1, 1, 2\n\nA(y)\n3\n",
       opened + parsed + "Joining the tables: \nJoin complete.\nOutput written.",
       "prg: warning: the column key id is given twice in A: the join tells columns apart by "
       "their keys alone\nprg: warning: the table A is defined again; the join uses the first "
       "one\n",
       0},
      {"an apostrophe that opens a quote", "join(A)\n\nA(id, name, city)\n1, O'Brien, Cork\n",
       opened + "1| O'Brien, Cork|\nrszie: 2 ; colsize: 3\nWrong number of columns in line: 1, "
                "O'Brien, Cork\nError reading table data from table: A\n",
       "prg: hint: in.txt:4: the refused line\nprg: hint: the apostrophe at byte 5 of "
       "the line opens a quote that is never closed, so the commas after it don't separate "
       "cells; write \\' for an apostrophe inside a cell\n",
       4},
      {"double quotes", "join(A)\n\nA(id, name)\n1, \"Smith, J\"\n",
       opened + "1| \"Smith| J\"|\nrszie: 3 ; colsize: 2\nWrong number of columns in line: 1, "
                "\"Smith, J\"\nError reading table data from table: A\n",
       "prg: hint: in.txt:4: the refused line\nprg: hint: double quotes don't quote: "
       "only apostrophes keep commas inside a cell\n",
       4},
      {"an empty join()", "join()\n\nA(x)\n1\n", opened + parsed + "No tables in to join !\n",
       "prg: hint: line 1 names no table; it must read join(A, B, ...)\n", 5},
      {"a typo in a table's name among many", manyTables,
       opened + parsed + "Joining the tables: Table customresnot found!\n",
       "prg: hint: did you mean customers?\nprg: hint: the file holds 203 tables: orders, "
       "table000, table001, table002, table003, ...\n",
       6},
      {"a typo in a key",
       "join(orders, customers)\n\norders(id, custmer_id)\n1, 2\n\n"
       "customers(customer_id, name)\n2, Zoe\n",
       opened + kJoined,
       "prg: warning: orders and customers share no column: every pairing, 1 x 1 rows\n"
       "prg: hint: the column custmer_id before customers and its column customer_id differ by 1 "
       "edit: did you mean customer_id?\n",
       0},
      {"a file separated by tabs", "join(A, B)\nA(id\tx)\n1\tp\n\nB(id\ty)\n1\tq\n",
       opened + kJoined,
       "prg: warning: A and B share no column: every pairing, 1 x 1 rows\n"
       "prg: hint: the descriptors hold tabs, and only commas separate columns and cells\n",
       0},
      {"a row separated by tabs", "join(A)\nA(id, x)\n1\tp\n",
       opened + "1\tp|\nrszie: 1 ; colsize: 2\nWrong number of columns in line: 1\tp\n"
                "Error reading table data from table: A\n",
       "prg: hint: in.txt:3: the refused line\n"
       "prg: hint: the line holds tabs, and only commas separate cells\n",
       4},
      {"an empty last cell", "join(A)\nA(id, name, note)\n1, Ann, x\n2, Zoe,\n",
       opened + "2| Zoe|\nrszie: 2 ; colsize: 3\nWrong number of columns in line: 2, Zoe,\n"
                "Error reading table data from table: A\n",
       "prg: hint: in.txt:4: the refused line\nprg: hint: a comma at the end of a line only "
       "ends the last cell; an empty last cell takes one more: 2, Zoe,,\n",
       4},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Folder folder;
    folder.write("in.txt", c.input);
    const Folder::Outcome outcome = folder.runShell(Folder::program() + " in.txt out.txt 2> err");
    EXPECT_EQ(outcome.console, c.console);
    EXPECT_EQ(folder.read("err"), c.errors);
    EXPECT_EQ(outcome.status, c.status);
  }
}

TEST(EndToEndTest, FileFailuresSayWhy) {
  Folder folder;
  folder.write("in.txt", kTypical);
  const struct {
    const char* what;
    std::string arguments;
    std::string errors;
  } cases[] = {
      {"missing input", "nothing.txt out.txt",
       "prg: hint: nothing.txt: No such file or directory\n"},
      {"a folder as input", ". out.txt", "prg: hint: .: Is a directory\n"},
      {"an output in a missing folder", "in.txt no/out.txt",
       "prg: hint: no/out.txt: No such file or directory\n"},
      {"no name, and no input1k.txt", "",
       "prg: hint: input1k.txt: No such file or directory\n"
       "prg: hint: prg --help shows how to name the files\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const Folder::Outcome outcome =
        folder.runShell(Folder::program() + " " + c.arguments + " 2> err");
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(folder.read("err"), c.errors);
  }
}

TEST(EndToEndTest, HelpAndVersion) {
  Folder folder;
  const Folder::Outcome help = folder.runPrg("--help");
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.console.rfind(kUsage, 0), 0u);
  EXPECT_NE(help.console.find("Exit status: 0 result written"), std::string::npos);
  const Folder::Outcome shortHelp = folder.runPrg("-h");
  EXPECT_EQ(shortHelp.status, 0);
  EXPECT_EQ(shortHelp.console, help.console);
  const Folder::Outcome version = folder.runPrg("--version");
  EXPECT_EQ(version.status, 0);
  // The version, and the commit of a build from a clone.
  EXPECT_TRUE(std::regex_match(version.console,
                               std::regex("prg [0-9]+\\.[0-9]+\\.[0-9]+( \\([0-9a-f]{7,}\\))?\n")))
      << version.console;
  // Only the exact words ask for them; a file of that name is still named so.
  const Folder::Outcome file = folder.runPrg("./--help");
  EXPECT_EQ(file.status, 1);
  EXPECT_EQ(file.console, std::string(kUsage) + kGuess);
  EXPECT_EQ(folder.names(), std::vector<std::string>{});
}

// Options: listed, checked before anything happens, and only where they belong;
// - for standard input and output; a quiet run; what --stats says.
TEST(EndToEndTest, OptionsAndStandardStreams) {
  const std::string typical = kTypical;
  const std::string output = typical + kTypicalResult;
  const std::string seeHelp = " (prg --help lists the options)\n";
  const std::string any = "<any>";
  const struct {
    const char* what;
    std::string command;  // in a folder that holds input_a.txt and old.txt
    std::string console;
    std::string errors;
    int status;
    std::string outputName;  // a file the run writes, or "" for none
    std::string outputBytes;
  } cases[] = {
      {"an unknown option", "--bogus", "", "prg: unknown option: --bogus" + seeHelp, 1, "", ""},
      {"-V is not --version", "-V input_a.txt", "", "prg: unknown option: -V" + seeHelp, 1, "", ""},
      {"an option after a file name", "input_a.txt --csv d", "",
       "prg: options come before the file names: --csv" + seeHelp, 1, "", ""},
      {"an option without its value", "--csv", "",
       "prg: an option without its value: --csv" + seeHelp, 1, "", ""},
      {"--csv=FOLDER", "--csv=d input_a.txt",
       std::string(kUsage) + "Opening input file: input_a.txt\nParsing the input file complete.\n",
       "prg: wrote 2 tables to d\n", 0, "d/B.csv", "id,price\r\n1,10\r\n"},
      {"--csv= with no folder", "--csv= input_a.txt", "",
       "prg: an option without its value: --csv=" + seeHelp, 1, "", ""},
      {"--csv with an empty folder name", "--csv '' input_a.txt", "",
       "prg: an option without its value: --csv" + seeHelp, 1, "", ""},
      {"-q --csv: nothing when all goes well", "-q --csv d input_a.txt", "", "", 0, "d/B.csv",
       "id,price\r\n1,10\r\n"},
      {"-- ends the options", "-- -x.txt out.txt",
       std::string(kUsage) + "Opening input file: -x.txt\nCan't open input file!\n",
       "prg: hint: -x.txt: No such file or directory\n", 1, "", ""},
      {"a name without input: a hint", "./input_a.txt", std::string(kUsage) + kGuess,
       "prg: hint: name the output file as well: prg ./input_a.txt OUTPUTFILE\n", 1, "", ""},
      {"-q: nothing when all goes well", "-q input_a.txt out.txt", "", "", 0, "out.txt", output},
      {"-q: a failure's own lines", "-q missing.txt out.txt", "Can't open input file!\n",
       "prg: hint: missing.txt: No such file or directory\n", 1, "", ""},
      {"- as the output: the output alone on standard output", "input_a.txt -", output,
       opening("input_a.txt", "-") + kJoined, 0, "", ""},
      {"- - from standard input", "- - < input_a.txt", output, opening("-", "-") + kJoined, 0, "",
       ""},
      {"/dev/stdout that is a file: the output alone, messages on standard error",
       "input_a.txt /dev/stdout > x.txt", "", opening("input_a.txt", "/dev/stdout") + kJoined, 0,
       "x.txt", output},
      {"/dev/fd/1 that is a file, written at its offset", "input_a.txt /dev/fd/1 >> old.txt", "",
       opening("input_a.txt", "/dev/fd/1") + kJoined, 0, "old.txt", "old" + output},
      {"/dev/stderr that is a file: no warnings or stats in the output",
       "--stats input_a.txt /dev/stderr", opening("input_a.txt", "/dev/stderr") + kJoined, output,
       0, "", ""},
      {"- as the input, a file as the output", "- out.txt < input_a.txt",
       opening("-", "out.txt") + kJoined, "", 0, "out.txt", output},
      {"--stats", "--stats input_a.txt out.txt", opening("input_a.txt", "out.txt") + kJoined, any,
       0, "out.txt", output},
      {"--result csv: the joined table alone", "--result csv input_a.txt out.csv",
       opening("input_a.txt", "out.csv") + kJoined, "", 0, "out.csv",
       "id,name,price\r\n1,x,10\r\n"},
      {"--result=csv to standard output", "--result=csv input_a.txt -",
       "id,name,price\r\n1,x,10\r\n", opening("input_a.txt", "-") + kJoined, 0, "", ""},
      {"--result of another format", "--result xml input_a.txt out.txt", "",
       "prg: an unknown --result format: xml" + seeHelp, 1, "", ""},
      {"--result csv, a failure: the old file stays", "--result csv old.txt old.txt",
       opening("old.txt", "old.txt") + "Input and output file are the same!\n", "", 1, "old.txt",
       "old"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Folder folder;
    folder.write("input_a.txt", typical);
    folder.write("old.txt", "old");
    const Folder::Outcome outcome =
        folder.runShell(Folder::program() + " " + c.command + " 2> err.txt");
    EXPECT_EQ(outcome.console, c.console);
    EXPECT_EQ(outcome.status, c.status);
    const std::string errors = folder.read("err.txt").value_or("?");
    if (c.errors == any) {
      EXPECT_EQ(errors.rfind("prg: stats: read ", 0), 0u) << errors;
      EXPECT_NE(errors.find("\nprg: stats: rows: A 2, B 1\nprg: stats: result 1 row, 37 "
                            "bytes\nprg: stats: peak memory "),
                std::string::npos)
          << errors;
    } else {
      EXPECT_EQ(errors, c.errors);
    }
    std::vector<std::string> names = {"err.txt", "input_a.txt", "old.txt"};
    if (!c.outputName.empty()) {
      EXPECT_EQ(folder.read(c.outputName), c.outputBytes);
      names.push_back(c.outputName.substr(0, c.outputName.find('/')));
      std::sort(names.begin(), names.end());
      names.erase(std::unique(names.begin(), names.end()), names.end());
    }
    EXPECT_EQ(folder.names(), names);
  }
  // A result that can't be written whole leaves the old file, not a copy of the input.
  Folder full;
  full.write("input_a.txt", typical);
  full.write("old.txt", "old");
  const Folder::Outcome failed =
      full.runShell("ulimit -f 0; " + Folder::program() + " --result csv input_a.txt old.txt");
  EXPECT_EQ(failed.status, 7);
  EXPECT_EQ(failed.console, opening("input_a.txt", "old.txt") +
                                "Parsing the input file complete.\nJoining the tables: .\nJoin "
                                "complete.\nCan't write output file!\n");
  EXPECT_EQ(full.read("old.txt"), "old");
  EXPECT_EQ(full.names(), (std::vector<std::string>{"input_a.txt", "old.txt"}));
  // The help lists every option and the exit statuses.
  const std::string help = Folder().runPrg("--help").console;
  for (const char* option : {"-h, --help", "--version", "-q, --quiet", "--stats", "--csv FOLDER",
                             "--csv=FOLDER", "--result FORMAT", "  --  ", "Exit status: 0"}) {
    EXPECT_NE(help.find(option), std::string::npos) << option;
  }
}

}  // namespace

namespace {

// --no-cross refuses a step that shares no key, after the lines of the steps
// before it, with status 1 and the output's name as it was; a join whose steps
// all share a key runs as without it.
TEST(EndToEndTest, NoCrossRefusesAStepThatSharesNoKey) {
  const std::string typo =
      "join(orders, customers)\n\norders(id, custmer_id)\n1, 2\n\ncustomers(customer_id, "
      "name)\n2, Zoe\n";
  const std::string later = "join(A, B, C)\n\nA(k)\n1\n\nB(k, v)\n1, 2\n\nC(z)\n7\n";
  const std::string fine = "join(A, B)\n\nA(k)\n1\n\nB(k, v)\n1, 2\n";
  const std::string parsed = opening("in.txt", "out.txt") + "Parsing the input file complete.\n";
  const struct {
    const char* what;
    std::string input;
    std::string console;
    std::string errors;
    int status;
    std::string output;
  } cases[] = {
      {"the first step", typo, parsed + "Joining the tables: ",
       "prg: --no-cross: orders and customers share no column key\nprg: hint: the column "
       "custmer_id before customers and its column customer_id differ by 1 edit: did you mean "
       "customer_id?\n",
       1, "old"},
      {"a later step", later, parsed + "Joining the tables: .",
       "prg: --no-cross: C shares no column key with the tables before it\n", 1, "old"},
      {"steps that share keys", fine, opening("in.txt", "out.txt") + kJoined, "", 0,
       fine + "\n\nresult(k, v)\n1,2\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Folder folder;
    folder.write("in.txt", c.input);
    folder.write("out.txt", "old");
    const Folder::Outcome outcome =
        folder.runShell(Folder::program() + " --no-cross in.txt out.txt 2> err");
    EXPECT_EQ(outcome.console, c.console);
    EXPECT_EQ(outcome.status, c.status);
    EXPECT_EQ(folder.read("err"), c.errors);
    EXPECT_EQ(folder.read("out.txt"), c.output);
    EXPECT_EQ(folder.names(), (std::vector<std::string>{"err", "in.txt", "out.txt"}));
  }
}

// --stats counts the result, shows a missing table as missing, and tells an
// export's tables, rows and time.
TEST(EndToEndTest, StatsCountTheResultAndTheExport) {
  const struct {
    const char* what;
    std::string input;
    std::string arguments;
    std::vector<std::string> lines;  // each on standard error, in this order
  } cases[] = {
      {"a run",
       kTypical,
       "in.txt out.txt",
       {"prg: stats: rows: A 2, B 1\n", "prg: stats: result 1 row, 37 bytes\n"}},
      {"a run as CSV",
       kTypical,
       "--result csv in.txt out.txt",
       {"prg: stats: rows: A 2, B 1\n", "prg: stats: result 1 row, 23 bytes\n"}},
      {"a missing table",
       "join(A, X)\n\nA(id)\n1\n",
       "in.txt out.txt",
       {"prg: stats: rows: A 1, X missing\nprg: stats: peak memory "}},
      {"an export",
       kTypical,
       "--csv d in.txt",
       {"prg: stats: export ", " s, 2 tables\nprg: stats: rows: A 2, B 1\nprg: stats: peak "}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Folder folder;
    folder.write("in.txt", c.input);
    folder.runShell(Folder::program() + " --stats " + c.arguments + " > /dev/null 2> err");
    const std::string errors = folder.read("err").value_or("");
    std::size_t at = 0;
    for (const std::string& line : c.lines) {
      at = errors.find(line, at);
      EXPECT_NE(at, std::string::npos) << line << " in " << errors;
    }
  }
}

}  // namespace
