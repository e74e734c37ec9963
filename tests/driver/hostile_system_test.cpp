// The system acting against a run: descriptors set not to block, a control group's
// memory limit, a tiny stack, a pipe nobody reads, a run through the dynamic loader.
// Each must end with a status of the program, never a signal it did not get, and
// nothing left beside the output.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "support/folder.h"
#include "support/spaced_table.h"

namespace {

// A child process of the test with the given descriptor as its standard input,
// output or error, running the tool in folder.
pid_t startInFolder(const Folder& folder, int standard, int descriptor,
                    std::vector<std::string> arguments) {
  const pid_t child = fork();
  if (child == 0) {
    dup2(descriptor, standard);
    if (chdir(folder.path().c_str()) != 0) {
      _exit(126);
    }
    const int quiet = open("/dev/null", O_WRONLY);
    for (const int other : {STDOUT_FILENO, STDERR_FILENO}) {
      if (other != standard) {
        dup2(quiet, other);
      }
    }
    // The pipe's other end stays the test's alone, so that closing it ends the pipe.
    for (int other = STDERR_FILENO + 1; other < 1024; ++other) {
      close(other);
    }
    std::vector<char*> argv = {const_cast<char*>("prg")};
    for (std::string& argument : arguments) {
      argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    execv(PRG_BINARY, argv.data());
    _exit(127);
  }
  return child;
}

int statusOf(pid_t child) {
  int raw = 0;
  waitpid(child, &raw, 0);
  return WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
}

std::string readAll(int descriptor) {
  std::string bytes;
  char block[1 << 16];
  for (ssize_t got; (got = read(descriptor, block, sizeof block)) != 0;) {
    if (got > 0) {
      bytes.append(block, static_cast<std::size_t>(got));
    }
  }
  return bytes;
}

// A run whose standard output is a pipe set not to block, first filled with up to
// filler bytes, that the test reads only 0.3 s later: its status, and the bytes it
// wrote there.
Folder::Outcome runIntoALateReader(const Folder& folder, std::vector<std::string> arguments,
                                   std::size_t filler) {
  int ends[2];
  if (pipe2(ends, O_NONBLOCK) != 0) {
    return {"no pipe", -1};
  }
  const std::string fill(filler, 'f');
  const ssize_t filled = filler == 0 ? 0 : write(ends[1], fill.data(), fill.size());
  const pid_t child = startInFolder(folder, STDOUT_FILENO, ends[1], std::move(arguments));
  close(ends[1]);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  fcntl(ends[0], F_SETFL, 0);
  const std::string piped = readAll(ends[0]);
  close(ends[0]);
  return {
      piped.substr(std::min(piped.size(), static_cast<std::size_t>(std::max<ssize_t>(filled, 0)))),
      statusOf(child)};
}

// A pipe set not to block, on the tool's side, as a shell may hand one over: an
// input whose writer is late, an output and a console whose reader is slow. The
// tool waits for each and gives the bytes of a run on plain files.
TEST(HostileSystemTest, DescriptorsSetNotToBlockAreWaitedFor) {
  const std::string input =
      "join(A, B)\n\n" + spacedTable("A", 100000) + "\n" + spacedTable("B", 100000);
  Folder folder;
  folder.write("in.txt", input);
  ASSERT_EQ(folder.runShell(Folder::program() + " in.txt plain.txt > console.txt").status, 0);
  const std::string plain = folder.read("plain.txt").value_or("?");
  const std::string console = folder.read("console.txt").value_or("?");
  {
    SCOPED_TRACE("an input whose writer is late");
    int ends[2];
    ASSERT_EQ(pipe2(ends, O_NONBLOCK), 0);
    const pid_t child = startInFolder(folder, STDIN_FILENO, ends[0], {"-", "out.txt"});
    close(ends[0]);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    fcntl(ends[1], F_SETFL, 0);
    ASSERT_EQ(write(ends[1], input.data(), input.size()), static_cast<ssize_t>(input.size()));
    close(ends[1]);
    EXPECT_EQ(statusOf(child), 0);
    EXPECT_TRUE(folder.read("out.txt") == plain);
  }
  {
    SCOPED_TRACE("an output whose reader is slow");
    const Folder::Outcome piped = runIntoALateReader(folder, {"in.txt", "-"}, 0);
    EXPECT_EQ(piped.status, 0);
    EXPECT_TRUE(piped.console == plain) << piped.console.size() << " bytes of " << plain.size();
  }
  {
    SCOPED_TRACE("a console whose pipe is full");
    const Folder::Outcome piped = runIntoALateReader(folder, {"in.txt", "out.txt"}, 1 << 20);
    EXPECT_EQ(piped.status, 0);
    EXPECT_EQ(piped.console,
              "Usage: prg [inputfile] [outputfile]\nOpening input file: in.txt\nOpening output "
              "file: out.txt\n" +
                  console.substr(console.find("Parsing")));
    EXPECT_TRUE(folder.read("out.txt") == plain);
  }
}

// A control group of the process's own, below the one it was started in, made by
// the test (as root, on a hierarchy it may write); empty when none can be made.
std::string makeChildMemoryGroup(const std::string& name, const std::string& limit) {
  std::ifstream groups("/proc/self/cgroup");
  for (std::string line; std::getline(groups, line);) {
    const std::size_t second = line.find(':', line.find(':') + 1);
    const std::string controllers = line.substr(line.find(':') + 1, second - line.find(':') - 1);
    const std::string path = line.substr(second + 1);
    const std::string folder = controllers.empty()       ? "/sys/fs/cgroup" + path
                               : controllers == "memory" ? "/sys/fs/cgroup/memory" + path
                                                         : "";
    if (folder.empty()) {
      continue;
    }
    const std::string group = folder + (path == "/" ? "" : "/") + name;
    const std::string file = controllers.empty() ? "/memory.max" : "/memory.limit_in_bytes";
    if (mkdir(group.c_str(), 0755) == 0 || errno == EEXIST) {
      if (std::ofstream(group + file) << limit) {
        return group;
      }
      rmdir(group.c_str());
    }
  }
  return "";
}

// In a child control group limited to 300 MB, an input that never ends meets the
// run's own bound, not the kernel's out-of-memory killer.
TEST(HostileSystemTest, ChildControlGroupsMemoryLimitBindsTheInput) {
  if (!kPlainBuild) {
    GTEST_SKIP() << "a sanitizer's allocator answers for memory itself";
  }
  const std::string group = makeChildMemoryGroup("prg-test-" + std::to_string(getpid()), "300M");
  if (group.empty()) {
    GTEST_SKIP() << "no control group could be made here (it needs root and a writable "
                    "memory hierarchy)";
  }
  Folder folder;
  folder.write("out.txt", "before");
  const Folder::Outcome outcome =
      folder.runShell("sh -c 'echo $$ > " + group + "/cgroup.procs && exec " + Folder::program() +
                      " /dev/zero out.txt 2>/dev/null'");
  rmdir(group.c_str());
  EXPECT_EQ(outcome.status, 8);
  EXPECT_EQ(outcome.console,
            "Usage: prg [inputfile] [outputfile]\nOpening input file: /dev/zero\nNot enough "
            "memory!\n");
  EXPECT_TRUE(folder.read("out.txt") == std::string("before"));
  EXPECT_EQ(folder.names(), (std::vector<std::string>{"out.txt"}));
}

// A 64 KiB stack, from which threads' stacks are sized too, takes a whole run.
TEST(HostileSystemTest, TinyStack) {
  if (!kPlainBuild) {
    GTEST_SKIP() << "a sanitizer's frames are larger than a plain build's";
  }
  const std::string input =
      "join(A, B)\n\n" + spacedTable("A", 200000) + "\n" + spacedTable("B", 200000, 3);
  Folder folder;
  folder.write("in.txt", input);
  const Folder::Outcome plain = folder.runShell(Folder::program() + " in.txt plain.txt");
  const Folder::Outcome small =
      folder.runShell("ulimit -s 64 && " + Folder::program() + " in.txt out.txt 2>&1");
  EXPECT_EQ(small.status, 0);
  EXPECT_EQ(small.console, plain.console.substr(0, plain.console.find("plain.txt")) + "out.txt" +
                               plain.console.substr(plain.console.find("plain.txt") + 9));
  EXPECT_TRUE(folder.read("out.txt") == folder.read("plain.txt"));
  EXPECT_EQ(folder.names(), (std::vector<std::string>{"in.txt", "out.txt", "plain.txt"}));
}

// Out of memory while its copy waits for a pipe nobody reads, the run still gives
// way to SIGTERM.
TEST(HostileSystemTest, InterruptionEndsAnEndingBlockedOnAPipe) {
  if (!kPlainBuild) {
    GTEST_SKIP() << "an address-space limit leaves a sanitizer's runtime no room";
  }
  std::string input = "join(A, A)\n\nA(id, name, more)\n";
  for (int i = 0; i < 600000; ++i) {
    input.append(std::to_string(i)).append(", name ").append(std::to_string(i % 977));
    input.append(", some more text\n");
  }
  Folder folder;
  folder.write("in.txt", input);
  const Folder::Outcome outcome = folder.runShell(
      "mkfifo out.fifo && { (sleep 30 < out.fifo &); (ulimit -v 61440; exec " + Folder::program() +
      " in.txt out.fifo > /dev/null 2>&1) & pid=$!; sleep 3; kill -TERM $pid; for i in $(seq "
      "100); do kill -0 $pid 2> /dev/null || break; sleep 0.1; done; kill -0 $pid 2> /dev/null "
      "&& echo hung && kill -KILL $pid; wait $pid; echo $?; pkill -f 'sleep 30'; }");
  EXPECT_EQ(outcome.console, "143\n");
  EXPECT_EQ(folder.names(), (std::vector<std::string>{"in.txt", "out.fifo"}));
}

// A replaced output keeps its owner and group, and gets its set-user-ID bit back
// only once they are kept; where a new file can't take them, the file is written
// in place and a hint says why. Made as root, with setpriv for another user.
TEST(HostileSystemTest, ReplacedOutputKeepsItsOwner) {
  if (geteuid() != 0 || system("command -v setpriv > /dev/null") != 0) {
    GTEST_SKIP() << "needs root and setpriv to make files of other users";
  }
  const std::string input = "join(A)\nA(a)\n1\n";
  const std::string output = input + "\n\nresult(a)\n1\n";
  const struct {
    const char* what;
    std::string owner;
    std::string mode;
    std::string asUser;  // setpriv's options, or empty for root
    std::string hint;
  } cases[] = {
      {"another user's set-user-ID file, replaced by root", "65534:65534", "4755", "", ""},
      {"a file of a group shared with its owner", "65534:100", "664",
       "setpriv --reuid=65533 --regid=100 --clear-groups ",
       "prg: hint: out.txt keeps its owner, group and attributes, which a new file could not "
       "take, so it is written in place\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Folder folder;
    folder.write("in.txt", input);
    folder.write("out.txt", "before");
    const Folder::Outcome outcome = folder.runShell(
        "chmod 777 . && chmod 644 in.txt && chown " + c.owner + " out.txt && chmod " + c.mode +
        " out.txt && " + c.asUser + Folder::program() +
        " in.txt out.txt > /dev/null 2> err.txt; echo $?; stat -c '%u:%g %a' out.txt");
    EXPECT_EQ(outcome.console, "0\n" + c.owner + " " + c.mode + "\n");
    EXPECT_EQ(folder.read("out.txt"), output);
    EXPECT_EQ(folder.read("err.txt"), c.hint);
    EXPECT_EQ(folder.names(), (std::vector<std::string>{"err.txt", "in.txt", "out.txt"}));
  }
}

// A replaced output keeps its access ACL and the user's attributes: a user the ACL
// denies the file may not read the new one either.
TEST(HostileSystemTest, ReplacedOutputKeepsItsAclAndAttributes) {
  Folder folder;
  folder.write("in.txt", "join(A)\nA(a)\n1\n");
  folder.write("out.txt", "before");
  const std::string out = (folder.path() / "out.txt").string();
  // user::rw-, user:65533:---, group::r--, mask::r--, other::r--
  const auto entry = [](std::uint16_t tag, std::uint16_t permissions, std::uint32_t id) {
    std::string bytes(8, '\0');
    std::memcpy(bytes.data(), &tag, 2);
    std::memcpy(bytes.data() + 2, &permissions, 2);
    std::memcpy(bytes.data() + 4, &id, 4);
    return bytes;
  };
  const std::uint32_t version = 2;
  std::string acl(reinterpret_cast<const char*>(&version), 4);
  acl += entry(0x01, 6, UINT32_MAX) + entry(0x02, 0, 65533) + entry(0x04, 4, UINT32_MAX) +
         entry(0x10, 4, UINT32_MAX) + entry(0x20, 4, UINT32_MAX);
  if (setxattr(out.c_str(), "system.posix_acl_access", acl.data(), acl.size(), 0) != 0 ||
      setxattr(out.c_str(), "user.origin", "here", 4, 0) != 0) {
    GTEST_SKIP() << "the file system of the temporary folder takes no ACL or user attribute";
  }
  ASSERT_EQ(folder.runPrg("in.txt out.txt > /dev/null").status, 0);
  const auto attribute = [&out](const char* name) {
    char value[256];
    const ssize_t size = getxattr(out.c_str(), name, value, sizeof value);
    return size < 0 ? std::string("<none>") : std::string(value, static_cast<std::size_t>(size));
  };
  EXPECT_EQ(attribute("system.posix_acl_access"), acl);
  EXPECT_EQ(attribute("user.origin"), "here");
  EXPECT_EQ(folder.read("out.txt"), "join(A)\nA(a)\n1\n\n\nresult(a)\n1\n");
  EXPECT_EQ(folder.names(), (std::vector<std::string>{"in.txt", "out.txt"}));
}

// A file that can be written but not replaced is written in place from the start,
// as cat > writes it: another user's file in a sticky folder, and a file mounted
// on, as containers mount single files. Made as root, with setpriv and unshare.
TEST(HostileSystemTest, FilesThatCanBeWrittenButNotReplaced) {
  if (geteuid() != 0 || system("command -v setpriv > /dev/null && unshare -m true") != 0) {
    GTEST_SKIP() << "needs root, setpriv and unshare -m to make the files";
  }
  const std::string input = "join(A)\nA(a)\n1\n";
  const std::string output = input + "\n\nresult(a)\n1\n";
  const struct {
    const char* what;
    std::string command;  // leaves the bytes under the name in seen.txt
  } cases[] = {
      {"another user's file in a sticky folder",
       "mkdir sticky && chmod 1777 sticky && cp in.txt sticky/ && echo old > sticky/out.txt && "
       "chown 65534:65534 sticky/out.txt && chmod 666 sticky/out.txt && cd sticky && setpriv "
       "--reuid=65533 --regid=65533 --clear-groups " +
           Folder::program() +
           " in.txt out.txt > /dev/null 2>&1; echo $?; cat out.txt > ../seen.txt; ls -A"},
      {"a file mounted on",
       "echo old > mounted.txt && touch out.txt && unshare -m sh -c 'mount --bind mounted.txt "
       "out.txt && " +
           Folder::program() +
           " in.txt out.txt > /dev/null 2>&1; echo $?'; cat mounted.txt > seen.txt; ls -A | "
           "grep -v seen"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Folder folder;
    folder.write("in.txt", input);
    const Folder::Outcome outcome = folder.runShell(c.command);
    EXPECT_EQ(outcome.console.substr(0, 2), "0\n") << outcome.console;
    EXPECT_EQ(outcome.console.find(".out.txt."), std::string::npos) << outcome.console;
    EXPECT_EQ(folder.read("seen.txt"), output);
  }
}

// An export's file that can be written but not replaced is written last, once
// the others are placed: a failed export leaves it as it was, a whole one fills it.
TEST(HostileSystemTest, AnExportFillsFilesThatCantBeReplacedLast) {
  if (geteuid() != 0 || system("command -v setpriv > /dev/null") != 0) {
    GTEST_SKIP() << "needs root and setpriv to make another user's file";
  }
  const struct {
    const char* what;
    std::string input;
    std::string status;
    std::string aCsv;
  } cases[] = {
      {"a whole export", "join(A, B)\n\nA(x)\n1\n\nB(y)\n2\n", "0", "x\r\n1\r\n"},
      {"an export that fails after A", "join(A, B)\n\nA(x)\n1\n\nB(y)\n2, 3\n", "4", "old\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Folder folder;
    folder.write("in.txt", c.input);
    const Folder::Outcome outcome = folder.runShell(
        "chmod 755 . && chmod 644 in.txt && mkdir out && chmod 1777 out && echo old > out/A.csv && "
        "chown "
        "65534:65534 out/A.csv && chmod 666 out/A.csv && setpriv --reuid=65533 --regid=65533 "
        "--clear-groups " +
        Folder::program() + " --csv out in.txt > /dev/null 2>&1; echo $?; ls -A out");
    EXPECT_EQ(outcome.console,
              c.status + "\nA.csv\n" + (c.status == "0" ? "B.csv\njoin.sql\n" : ""));
    EXPECT_EQ(folder.read("out/A.csv"), c.aCsv);
  }
}

// The output's folder renamed while the run writes into it: the output lands in
// the folder that was opened, under its new name, and nothing stays beside it.
TEST(HostileSystemTest, OutputFolderRenamedDuringTheRun) {
  std::string input = "join(A, B)\n\nA(a, x)\n";
  for (int i = 0; i < 2000; ++i) {
    input.append(std::to_string(i)).append(", w\n");
  }
  input += "\nB(b, y)\n";
  for (int i = 0; i < 1000; ++i) {
    input.append(std::to_string(i)).append(", v\n");
  }
  Folder folder;
  folder.write("in.txt", input);
  folder.write("d1/out.txt", "before");
  const Folder::Outcome outcome = folder.runShell(
      "{ " + Folder::program() +
      " in.txt d1/out.txt > /dev/null 2>&1 & for i in $(seq 500); do ls d1/.out.txt.* > "
      "/dev/null 2>&1 && break; sleep 0.01; done; mv d1 d3; wait $!; echo $?; ls -A d3; }");
  EXPECT_EQ(outcome.console, "0\nout.txt\n");
  const std::string written = folder.read("d3/out.txt").value_or("");
  EXPECT_TRUE(written.compare(0, input.size(), input) == 0);
  EXPECT_EQ(std::count(written.begin(), written.end(), '\n'),
            std::count(input.begin(), input.end(), '\n') + 3 + 2000 * 1000);
}

// No restart of the process: run through the dynamic loader, the tool is what
// runs, and under its own name.
TEST(HostileSystemTest, RunThroughTheLoaderUnderItsOwnName) {
  Folder folder;
  const std::string input = "join(A, B)\n\nA(id, x)\n1, a\n\nB(id, y)\n1, b\n";
  folder.write("in.txt", input);
  const Folder::Outcome outcome = folder.runShell(
      "\"$(readlink -f /lib64/ld-linux-x86-64.so.2)\" " + Folder::program() +
      " in.txt out.txt > /dev/null; echo $?; (sleep 1; cat in.txt) | " + Folder::program() +
      " - piped.txt > /dev/null & sleep 0.5; cat /proc/$(pgrep -n -f 'piped.txt')/comm; wait");
  EXPECT_EQ(outcome.console, "0\nprg\n");
  const std::string output = input + "\n\nresult(id, x, y)\n1,a,b\n";
  EXPECT_EQ(folder.read("out.txt"), output);
  EXPECT_EQ(folder.read("piped.txt"), output);
}

}  // namespace

namespace {

// A reader that leaves the output's pipe ends the run at once and silently, as
// SIGPIPE's default action would, under every name of the pipe; a console pipe
// that closes never stops the run.
TEST(HostileSystemTest, AReaderThatLeavesTheOutputPipe) {
  Folder folder;
  folder.write("in.txt",
               "join(A, B)\n\n" + spacedTable("A", 200000) + "\n" + spacedTable("B", 200000));
  const struct {
    const char* what;
    std::string command;
    std::string console;
  } cases[] = {
      {"-", " --result csv in.txt - 2> err.txt | head -c 3; echo \" ${PIPESTATUS[0]}\"",
       "id, 141\n"},
      {"/dev/stdout", " in.txt /dev/stdout 2> err.txt | head -c 5; echo \" ${PIPESTATUS[0]}\"",
       "join( 141\n"},
      {"a named pipe",
       " in.txt out.fifo > err.txt 2>&1 & { head -c 5 out.fifo; wait $!; echo \" $?\"; }",
       "join( 141\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    // The program's name, quoted, joins the quoted rest into one argument of bash.
    const Folder::Outcome outcome = folder.runShell("rm -f out.fifo; mkfifo out.fifo; { bash -c '" +
                                                    Folder::program() + c.command + "'; }");
    EXPECT_EQ(outcome.console, c.console);
    const std::string said = folder.read("err.txt").value_or("?");
    EXPECT_EQ(said.find("Can't write output file!"), std::string::npos) << said;
    EXPECT_EQ(said.find("prg: "), std::string::npos) << said;
  }
  const Folder::Outcome console = folder.runShell(
      "bash -c '" + Folder::program() + " in.txt out.txt | head -c 1; echo \" ${PIPESTATUS[0]}\"'");
  EXPECT_EQ(console.console, "U 0\n");
  EXPECT_GT(folder.read("out.txt").value_or("").size(), folder.read("in.txt")->size());
}

}  // namespace
