// The process around a run, tried as a hostile but fair user would: closed or
// broken consoles, resource limits, inputs too large for memory, interruptions.
// Each situation must end with its message and status, the input untouched, and an
// output file holding exactly what the run says it holds.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "support/changing_input.h"
#include "support/folder.h"
#include "support/screen.h"

namespace {

// Under a sanitizer its own allocator answers for memory: a huge request is its
// report, not the program's, and an address-space limit leaves it no room.
constexpr bool kOwnAllocator = kPlainBuild;

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

// Waits, in the folder, until the run's file beside its output (out.txt unless
// said) has grown past bytes (or the run has ended), then sends it signal.
std::string signalWhenBesideExceeds(std::size_t bytes, const std::string& signal,
                                    const std::string& beside = ".out.txt.*") {
  return "while kill -0 $! 2>/dev/null && [ $(stat -c %s " + beside +
         " 2>/dev/null || echo 0) -le " + std::to_string(bytes) +
         " ]; do sleep 0.01; done; kill -" + signal + " $!; wait $!";
}

// Every way a run can end, and what each leaves: the console, the status, the bytes
// under the output's name and the files in its folder. The name holds the old file
// or a finished output (the whole result, or the copy of the input after a failure),
// never a part of one, and only a killed run may leave its file beside it.
TEST(ProcessTest, WaysARunEnds) {
  const std::string small = product(40);
  const std::string smallOutput = small + productResult(40);
  const std::string large = product(3000);
  // Runs that must get to their end take a smaller one.
  const std::string medium = product(1000);
  const std::string mediumOutput = medium + productResult(1000);
  // 9 x 10^8 rows: a write that fails must end the run at once, not at its end.
  const std::string huge = product(30000);
  const std::string prg = Folder::program();
  const std::vector<std::string> clean = {"in.txt", "out.txt"};
  const std::string copyOnly = "copy";  // out.txt holds the input
  const std::string before = "before";  // out.txt holds what it held before
  const std::string either = "either";  // before, or the whole output
  // A signal right at the start meets the run before or after its first lines.
  const std::string anyConsole = "any";
  const struct {
    const char* what;
    std::string input;
    std::string command;  // run by bash in the folder
    std::string console;
    int status;
    std::string output;  // its bytes, or copyOnly, before, either
    bool mayLeaveBeside = false;
    bool needsOwnAllocator = false;
  } cases[] = {
      {"success", small, prg + " in.txt out.txt",
       std::string(kOpened) + kJoined + "Output written.", 0, smallOutput},
      {"closed stdout: nothing of the console lands in the output", small,
       prg + " in.txt out.txt >&-", "", 0, smallOutput},
      {"broken pipe: the run goes on to its end", small,
       prg + " in.txt out.txt | head -c 1; exit ${PIPESTATUS[0]}", "U", 0, smallOutput},
      {"status 2: bad header", "join(A\n", prg + " in.txt out.txt",
       std::string(kOpened) + "Incorrect header", 2, copyOnly},
      {"status 3: bad descriptor", "join(A)\nA(a\n", prg + " in.txt out.txt",
       std::string(kOpened) + "Error parsing tableDescriptor: A(a\n", 3, copyOnly},
      {"status 4: bad row", "join(A)\nA(a)\n1, 2\n", prg + " in.txt out.txt",
       std::string(kOpened) + "1| 2|\nrszie: 2 ; colsize: 1\nWrong number of columns in line: 1, "
                              "2\nError reading table data from table: A\n",
       4, copyOnly},
      {"status 5: no table named", "join()\n", prg + " in.txt out.txt",
       std::string(kOpened) + "Parsing the input file complete.\nNo tables in to join !\n", 5,
       copyOnly},
      {"status 6: a table missing", "join(A)\n", prg + " in.txt out.txt",
       std::string(kOpened) + "Parsing the input file complete.\nJoining the tables: Table Anot "
                              "found!\n",
       6, copyOnly},
      {"status 7: file-size limit in the result, at once", huge,
       "ulimit -f 2000; " + prg + " in.txt out.txt",
       std::string(kOpened) + kJoined + "Can't write output file!\n", 7, copyOnly},
      {"status 7: file-size limit in the copy", huge, "ulimit -f 100; " + prg + " in.txt out.txt",
       std::string(kOpened) + "Can't write output file!\n", 7, before},
      {"status 8: no memory for the input", "join(T)\nT(a)\n" + std::string(30u << 20, 'x') + "\n",
       "ulimit -v 20000; " + prg + " in.txt out.txt",
       "Usage: prg [inputfile] [outputfile]\nOpening input file: in.txt\nNot enough memory!\n", 8,
       before, false, true},
      {"status 8: a terabyte of input, refused before the output is touched", "",
       "truncate -s 1T in.txt; " + prg + " in.txt out.txt",
       "Usage: prg [inputfile] [outputfile]\nOpening input file: in.txt\nNot enough memory!\n", 8,
       before, false, true},
      {"SIGTERM while the result is written", large,
       prg + " in.txt out.txt & " + signalWhenBesideExceeds(large.size() + 100000, "TERM"),
       std::string(kOpened) + kJoined, 143, before},
      {"SIGINT while the result is written", large,
       // A shell's background job starts with SIGINT ignored; this one is given it back.
       "env --default-signal=INT " + prg + " in.txt out.txt & " +
           signalWhenBesideExceeds(large.size() + 100000, "INT"),
       std::string(kOpened) + kJoined, 130, before},
      {"SIGHUP while the result is written", large,
       prg + " in.txt out.txt & " + signalWhenBesideExceeds(large.size() + 100000, "HUP"),
       std::string(kOpened) + kJoined, 129, before},
      {"SIGTERM at start, before the copy is written", large,
       prg + " in.txt out.txt & kill -TERM $!; wait $!", anyConsole, 143, before},
      {"SIGINT ignored at start stays ignored", medium,
       "trap \"\" INT; " + prg + " in.txt out.txt & " +
           signalWhenBesideExceeds(medium.size() + 100000, "INT"),
       std::string(kOpened) + kJoined + "Output written.", 0, mediumOutput},
      {"SIGHUP ignored under nohup", medium,
       "nohup " + prg + " in.txt out.txt 2>/dev/null & " +
           signalWhenBesideExceeds(medium.size() + 100000, "HUP"),
       std::string(kOpened) + kJoined + "Output written.", 0, mediumOutput},
      {"SIGKILL at start", medium, prg + " in.txt out.txt & kill -KILL $!; wait $!", anyConsole,
       137, either, true},
      {"SIGKILL while the result is written", large,
       prg + " in.txt out.txt & " + signalWhenBesideExceeds(large.size() + 100000, "KILL"),
       std::string(kOpened) + kJoined, 137, before, true},
      {"SIGTERM while a FIFO's reader does not read: ends within a second", large,
       "rm out.txt; mkfifo out.txt; sleep 5 < out.txt & " + prg +
           " in.txt out.txt & sleep 0.5; kill -TERM $!; for i in $(seq 20); do kill -0 $! "
           "2>/dev/null || break; sleep 0.05; done; kill -KILL $! 2>/dev/null; wait $!; "
           "status=$?; kill %1; rm out.txt; echo before > out.txt; truncate -s 6 out.txt; "
           "exit $status",
       std::string(kOpened) + kJoined, 143, before},
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
    if (c.console != anyConsole) {
      EXPECT_EQ(outcome.console, c.console);
    }
    EXPECT_EQ(outcome.status, c.status);
    const std::optional<std::string> output = folder.read("out.txt");
    ASSERT_TRUE(output.has_value());
    if (c.output == either) {
      EXPECT_TRUE(*output == before || *output == mediumOutput) << output->size() << " bytes";
    } else {
      const std::string& expected = c.output == copyOnly ? c.input
                                    : c.output == before ? before
                                                         : c.output;
      EXPECT_TRUE(*output == expected) << output->size() << " bytes";
    }
    if (!c.mayLeaveBeside) {
      EXPECT_EQ(folder.names(), clean);
    }
    if (!c.input.empty()) {
      EXPECT_TRUE(folder.read("in.txt") == c.input);
    }
  }
}

// Where no thread can be started, a plain handler ends the run on a signal; it
// must take no lock that the thread it interrupted may hold, whatever that thread
// is doing. Signals at many moments of a run, each of which must end it at once.
TEST(ProcessTest, SignalWithoutThreadsEndsTheRun) {
  if (!kOwnAllocator) {
    GTEST_SKIP() << "the sanitizer's runtime must be loaded before anything preloaded";
  }
  const std::string input = product(3000);
  Folder folder;
  folder.write("in.txt", input);
  const std::string run =
      "LD_PRELOAD=" + std::string(PRG_NO_THREADS) + " " + Folder::program() + " in.txt out.txt";
  // The moments are spread over most of the fastest of three whole runs, however
  // fast this machine is.
  double seconds = 1e9;
  for (int i = 0; i < 3; ++i) {
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(folder.runShell(run + " > /dev/null 2>&1").status, 0);
    seconds = std::min(
        seconds, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  for (int round = 0; round < 40; ++round) {
    SCOPED_TRACE(round);
    folder.write("out.txt", "before");
    const std::string delay = std::to_string(seconds * 0.6 * (round % 20) / 20);
    const Folder::Outcome outcome =
        folder.runShell("timeout -s KILL 10 bash -c '" + run + " > /dev/null & sleep " + delay +
                        "; kill -TERM $!; wait $!'");
    ASSERT_EQ(outcome.status, 143);
    EXPECT_TRUE(folder.read("out.txt") == std::string("before"));
    EXPECT_EQ(folder.names(), (std::vector<std::string>{"in.txt", "out.txt"}));
  }
}

// A run of more than a second tells its progress on standard error when that is a
// terminal (a pseudo-terminal from script(1) here), erases the line at its end, and
// writes nothing there otherwise; the output is the same either way.
TEST(ProcessTest, ProgressOnlyOnATerminal) {
  if (!kOwnAllocator) {
    GTEST_SKIP() << "the run must last about a second, as in a plain build";
  }
  std::string input = "join(A";
  for (int i = 1; i < 1000; ++i) {
    input += ", A";
  }
  input += ")\n\nA(id, name, v)\n";
  for (int i = 0; i < 40000; ++i) {
    input.append(std::to_string(i)).append(", name, ").append(std::to_string(i % 7)).append("\n");
  }
  Folder folder;
  folder.write("in.txt", input);
  const Folder::Outcome onTerminal = folder.runShell("script -qfec \"" + Folder::program() +
                                                     " in.txt tty.txt > /dev/null\" /dev/null");
  const Folder::Outcome withoutTerminal =
      folder.runShell(Folder::program() + " in.txt plain.txt > /dev/null 2> err.txt");
  EXPECT_EQ(onTerminal.status, 0);
  EXPECT_EQ(withoutTerminal.status, 0);
  EXPECT_EQ(onTerminal.console.rfind("\rprg: ", 0), 0u) << onTerminal.console;
  EXPECT_NE(onTerminal.console.find(" rows, "), std::string::npos) << onTerminal.console;
  const std::string erase = "\r\x1b[K";
  ASSERT_GE(onTerminal.console.size(), erase.size());
  EXPECT_EQ(onTerminal.console.substr(onTerminal.console.size() - erase.size()), erase);
  EXPECT_EQ(folder.read("err.txt"), std::string());
  EXPECT_TRUE(folder.read("tty.txt") == folder.read("plain.txt"));
  // Sharing the terminal with the messages, the line never tears one apart, and
  // the screen ends up showing the messages alone.
  const Folder::Outcome shared =
      folder.runShell("script -qfec \"" + Folder::program() + " in.txt shared.txt\" /dev/null");
  EXPECT_EQ(shared.status, 0);
  EXPECT_NE(shared.console.find("\rprg: "), std::string::npos) << shared.console;
  EXPECT_EQ(screen(shared.console),
            "Usage: prg [inputfile] [outputfile]\nOpening input file: in.txt\nOpening output "
            "file: shared.txt\nParsing the input file complete.\nJoining the tables: " +
                std::string(999, '.') + "\nJoin complete.\nOutput written.");
  // Interrupted while the line is drawn (the copy waits for a pipe nobody reads),
  // the run erases it: the shell's prompt comes on a clean line.
  const Folder::Outcome interrupted = folder.runShell(
      "mkfifo out.fifo && { (sleep 5 < out.fifo &); script -qfec \"" + Folder::program() +
      " in.txt out.fifo > /dev/null & sleep 1.7; kill -TERM \\$!; wait \\$!; echo \\\" \\$?\\\"\" "
      "/dev/null; pkill -f 'sleep 5'; }");
  EXPECT_NE(interrupted.console.find("\rprg: "), std::string::npos) << interrupted.console;
  EXPECT_EQ(screen(interrupted.console), " 143\n");
}

// A replaced output keeps the old file's permissions, and a symbolic link keeps
// pointing at the file it names, which gets the output.
TEST(ProcessTest, ReplacedOutputKeepsModeAndLinks) {
  const std::string small = product(5);
  Folder folder;
  folder.write("in.txt", small);
  folder.write("target.txt", "before");
  const Folder::Outcome outcome =
      folder.runShell("chmod 640 target.txt && ln -s target.txt out.txt && " + Folder::program() +
                      " in.txt out.txt > /dev/null && stat -c %a target.txt && readlink out.txt");
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.console, "640\ntarget.txt\n");
  EXPECT_TRUE(folder.read("target.txt") == small + productResult(5));
  EXPECT_EQ(folder.names(), (std::vector<std::string>{"in.txt", "out.txt", "target.txt"}));
}

// Whatever the output's name, its folder or the way a run ends, every name holds
// what it held before or a finished file, and nothing is left beside it: the
// output, a long name, a path through /dev, a memory failure, the files of --csv,
// names that can't be opened, an input without end, and the console lines about
// them, a few of each kind.
TEST(ProcessTest, EveryNameHoldsTheOldFileOrAWholeOne) {
  const std::string prg = Folder::program();
  const std::string longName(250, 'o');
  const std::string large = product(3000);
  const std::string huge = product(30000);
  const std::string small = product(5);
  std::string pkFk = "join(A, B)\n\nA(id, x)\n";
  std::string rowsOfB = "\nB(id, y)\n";
  for (int i = 0; i < 300000; ++i) {
    pkFk.append(std::to_string(i)).append(", a").append(std::to_string(i)).append("\n");
    rowsOfB.append(std::to_string(i)).append(", b").append(std::to_string(i)).append("\n");
  }
  pkFk += rowsOfB;
  const std::string badB = "join(A, B)\n\nA(id, x)\n1, a\n\nB(id, y)\n1, 2, 3\n";
  const std::string noRowsInA = "join(A, B)\n\nA(id int, name)\n\nB(id, price)\n1, 10\n";
  std::string upper = "join(A, B)\n\nA(";
  std::string lower = "\nB(";
  std::string cells;
  for (int i = 0; i < 4096; ++i) {
    upper.append(i == 0 ? "" : ", ").append("K").append(std::to_string(i));
    lower.append(i == 0 ? "" : ", ").append("k").append(std::to_string(i));
    cells.append(i == 0 ? "" : ", ").append("1");
  }
  const std::string caseKeys = upper + ")\n" + cells + "\n" + lower + ")\n" + cells + "\n";
  const std::string anyBytes = "<any>";
  const std::string usage = "Usage: prg [inputfile] [outputfile]\n";
  using Names = std::map<std::string, std::string>;
  const struct {
    const char* what;
    Names before;  // in.txt and out.txt among them, unless said
    std::string command;
    std::string console;  // anyBytes: not compared
    int status;
    Names after;             // anyBytes: not compared
    bool needsOwnAllocator;  // under a sanitizer its allocator answers for memory
    bool killed = false;     // may leave files beside the names, which are not listed
  } cases[] = {
      {"a name of 250 bytes, whole",
       {{"in.txt", small}, {longName, "OLD"}},
       prg + " in.txt " + longName + " > /dev/null",
       "",
       0,
       {{"in.txt", small}, {longName, small + productResult(5)}},
       false},
      {"a name of 250 bytes, SIGTERM",
       {{"in.txt", large}, {longName, "OLD"}},
       prg + " in.txt " + longName + " > /dev/null & " +
           signalWhenBesideExceeds(large.size() + 100000, "TERM", ".ooo*"),
       "",
       143,
       {{"in.txt", large}, {longName, "OLD"}},
       false},
      {"a name of 250 bytes, full in the copy",
       {{"in.txt", huge}, {longName, "OLD"}},
       "ulimit -f 100; " + prg + " in.txt " + longName + " > /dev/null",
       "",
       7,
       {{"in.txt", huge}, {longName, "OLD"}},
       false},
      {"a path through /dev/.., SIGTERM",
       {{"in.txt", large}, {"out.txt", "OLD"}},
       prg + " in.txt /dev/..$PWD/out.txt > /dev/null & " +
           signalWhenBesideExceeds(large.size() + 100000, "TERM"),
       "",
       143,
       {{"in.txt", large}, {"out.txt", "OLD"}},
       false},
      {"no memory after the output is open: the copy",
       {{"in.txt", pkFk}, {"out.txt", "OLD"}},
       "ulimit -v 50000; " + prg + " in.txt out.txt",
       anyBytes,
       8,
       {{"in.txt", pkFk}, {"out.txt", pkFk}},
       true},
      {"--csv, a bad row: the files there stay",
       {{"in.txt", badB}, {"keep/A.csv", "PRECIOUS"}, {"keep/C.csv", "MINE"}},
       prg + " --csv keep in.txt 2> /dev/null",
       usage + "Opening input file: in.txt\n1| 2| 3|\nrszie: 3 ; colsize: 2\nWrong number of "
               "columns in line: 1, 2, 3\nError reading table data from table: B\n",
       4,
       {{"in.txt", badB}, {"keep", "<dir>"}, {"keep/A.csv", "PRECIOUS"}, {"keep/C.csv", "MINE"}},
       false},
      {"--csv, full",
       {{"in.txt", huge}, {"keep/A.csv", "PRECIOUS"}},
       "ulimit -f 100; " + prg + " --csv keep in.txt 2> /dev/null",
       usage + "Opening input file: in.txt\nCan't write output file!\n",
       7,
       {{"in.txt", huge}, {"keep", "<dir>"}, {"keep/A.csv", "PRECIOUS"}},
       false},
      {"--csv, SIGTERM while a table waits",
       {{"in.txt", large}, {"keep/A.csv", "PRECIOUS"}},
       "mkfifo keep/B.csv; " + prg +
           " --csv keep in.txt > /dev/null & sleep 0.5; kill -TERM $!; wait $!",
       "",
       143,
       {{"in.txt", large}, {"keep", "<dir>"}, {"keep/A.csv", "PRECIOUS"}, {"keep/B.csv", "<fifo>"}},
       false},
      {"--csv, SIGKILL while a table waits",
       {{"in.txt", large}, {"keep/A.csv", "PRECIOUS"}},
       "mkfifo keep/B.csv; " + prg +
           " --csv keep in.txt > /dev/null & sleep 0.5; kill -KILL $!; wait $!",
       "",
       137,
       {{"in.txt", large}, {"keep", "<dir>"}, {"keep/A.csv", "PRECIOUS"}, {"keep/B.csv", "<fifo>"}},
       false,
       true},
      {"--csv into a file, a table without rows",
       {{"in.txt", noRowsInA}, {"afile", ""}},
       prg + " --csv afile in.txt",
       usage + "Opening input file: in.txt\nCan't write output file!\n",
       7,
       {{"in.txt", noRowsInA}, {"afile", ""}},
       false},
      {"--csv, a folder named with a line end; a table name too long for a file",
       {{"in.txt", "join(A)\n\nA(x)\n1\n\n" + std::string(252, 'T') + "(y)\n2\n"}},
       prg + " --csv $'out\\nx' in.txt > /dev/null 2> err.txt",
       "",
       0,
       {{"in.txt", "join(A)\n\nA(x)\n1\n\n" + std::string(252, 'T') + "(y)\n2\n"},
        {"out\nx", "<dir>"},
        {"out\nx/A.csv", "x\r\n1\r\n"},
        {"out\nx/join.sql", anyBytes},
        {"err.txt",
         "prg: warning: the table named \"" + std::string(252, 'T') +
             "\" is too long a name for a file; it is not written\nprg: wrote 1 table to "
             "out\\nx\n"}},
       false},
      {"4096 keys that differ only in case: a few warnings",
       {{"in.txt", caseKeys}, {"out.txt", "OLD"}},
       prg + " in.txt out.txt > /dev/null 2> err.txt",
       "",
       0,
       {{"in.txt", caseKeys},
        {"out.txt", anyBytes},
        {"err.txt",
         "prg: warning: A and B share no column: every pairing, 1 x 1 rows\n"
         "prg: warning: the column k0 of B and the column K0 before it differ only in letter "
         "case\n"
         "prg: warning: the column k1 of B and the column K1 before it differ only in letter "
         "case\n"
         "prg: warning: the column k2 of B and the column K2 before it differ only in letter "
         "case\n"
         "prg: warning: the column k3 of B and the column K3 before it differ only in letter "
         "case\n"
         "prg: warning: the column k4 of B and the column K4 before it differ only in letter "
         "case\n"
         "prg: warning: 4091 more columns differ from one before them only in letter case\n"}},
       false},
      {"a loop of symbolic links",
       {{"in.txt", small}},
       "ln -s b a; ln -s a b; " + prg + " in.txt a 2> /dev/null",
       usage + "Opening input file: in.txt\nOpening output file: a\nCan't open output file!\n",
       1,
       {{"in.txt", small}, {"a", "-> b"}, {"b", "-> a"}},
       false},
      {"the empty name",
       {{"in.txt", small}},
       prg + " in.txt '' 2> /dev/null",
       usage + "Opening input file: in.txt\nOpening output file: \nCan't open output file!\n",
       1,
       {{"in.txt", small}},
       false},
      {"an input without end",
       {{"out.txt", "OLD"}},
       "ulimit -d 400000; " + prg + " /dev/zero out.txt",
       usage + "Opening input file: /dev/zero\nNot enough memory!\n",
       8,
       {{"out.txt", "OLD"}},
       true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.needsOwnAllocator && !kOwnAllocator) {
      continue;
    }
    Folder folder;
    for (const auto& [name, content] : c.before) {
      folder.write(name, content);
    }
    folder.write("run.sh", c.command);
    const Folder::Outcome outcome = folder.runShell("bash run.sh");
    if (c.console != anyBytes) {
      EXPECT_EQ(outcome.console, c.console);
    }
    EXPECT_EQ(outcome.status, c.status);
    Names after = folder.contents();
    after.erase("run.sh");
    if (c.killed) {
      std::erase_if(after, [](const auto& entry) {
        return entry.first.find("/.") != std::string::npos || entry.first.front() == '.';
      });
    }
    for (const auto& [name, content] : c.after) {
      if (content == anyBytes && after.count(name) != 0) {
        after[name] = anyBytes;
      }
    }
    EXPECT_EQ(after.size(), c.after.size());
    for (const auto& [name, content] : c.after) {
      EXPECT_TRUE(after.count(name) != 0 && after[name] == content)
          << name.substr(0, 40) << ": " << after[name].size() << " bytes";
    }
    for (const auto& [name, content] : after) {
      EXPECT_TRUE(c.after.count(name) != 0) << "left: " << name;
    }
  }
}

// Cut to a quarter by another program as the run joins, once the copy is written,
// the input is read again where the join reads it (the first table, part by part),
// past the cut as zero bytes: the run neither dies nor leaves a part of a file,
// says once that the input changed, and its output starts with the copy it wrote.
TEST(ProcessTest, InputCutWhileJoinedEndsTheRunWhole) {
  const std::string input = product(3000);
  Folder folder;
  folder.write("in.txt", input);
  folder.write("out.txt", "before");
  const Folder::Outcome cut = folder.runShell(
      "{ " + Folder::program() + " in.txt out.txt > console.txt 2> err.txt & " +
      "while kill -0 $! 2>/dev/null && [ $(stat -c %s .out.txt.* 2>/dev/null || echo 0) -le " +
      std::to_string(input.size()) + " ]; do sleep 0.005; done; truncate -s " +
      std::to_string(input.size() / 4) + " in.txt; wait $!; }");
  ASSERT_EQ(folder.read("in.txt").value_or("").size(), input.size() / 4);
  EXPECT_EQ(cut.status, 0);
  const std::string hint = kInputChangedHint;
  const std::string errors = folder.read("err.txt").value_or("");
  EXPECT_NE(errors.find(hint), std::string::npos) << errors;
  EXPECT_EQ(errors.find(hint), errors.rfind(hint)) << errors;
  EXPECT_EQ(folder.read("out.txt").value_or("").substr(0, input.size()), input);
  EXPECT_EQ(folder.names(),
            (std::vector<std::string>{"console.txt", "err.txt", "in.txt", "out.txt"}));
}

}  // namespace
