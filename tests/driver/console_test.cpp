// What reaches standard output and standard error: the routing of each kind of
// line, quiet mode, lines held back while a message line is open, and the progress
// line on a terminal, which never tears a message apart, never wraps and is gone
// once the run ends, however it ends.

#include "driver/console.h"

#include <gtest/gtest.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <sstream>
#include <string>
#include <thread>

#include "support/screen.h"

namespace {

TEST(ConsoleTest, RoutesEachKindOfLine) {
  const auto aRun = [](Console& console) {
    console.tell("Joining the tables: ");
    console.hint("held until the line ends");
    console.tell(".");
    console.fail("Table Xnot found!\n");
    console.diagnostics() << "prg: warning: after it\n";
  };
  const auto headerFailure = [](Console& console) {
    console.fail("Incorrect header");
    console.hint("said on a line of its own");
  };
  const struct {
    const char* what;
    std::function<void(Console&)> lines;
    std::function<void(Console&)> setUp;
    bool sharedTerminal;
    std::string out;
    std::string err;
  } cases[] = {
      {"as it comes", aRun, [](Console&) {}, false, "Joining the tables: .Table Xnot found!\n",
       "prg: hint: held until the line ends\nprg: warning: after it\n"},
      {"quiet", aRun, [](Console& c) { c.setQuiet(); }, false, "Table Xnot found!\n",
       "prg: hint: held until the line ends\nprg: warning: after it\n"},
      {"output on standard output", aRun, [](Console& c) { c.sendMessagesToStandardError(); },
       false, "",
       "Joining the tables: .Table Xnot found!\nprg: hint: held until the line ends\n"
       "prg: warning: after it\n"},
      {"output on standard error", aRun, [](Console& c) { c.dropDiagnostics(); }, false,
       "Joining the tables: .Table Xnot found!\n", ""},
      {"open line at the end", headerFailure, [](Console&) {}, false, "Incorrect header",
       "prg: hint: said on a line of its own\n"},
      {"open line at the end of a terminal", headerFailure, [](Console&) {}, true,
       "Incorrect header", "\nprg: hint: said on a line of its own\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::stringbuf out;
    std::stringbuf err;
    Console::Terminal terminal;
    terminal.shared = c.sharedTerminal;
    Console console(out, err, terminal);
    c.setUp(console);
    c.lines(console);
    console.finish();
    EXPECT_EQ(out.str(), c.out);
    EXPECT_EQ(err.str(), c.err);
  }
}

// A terminal of the given width whose bytes a thread collects.
class Terminal {
 public:
  explicit Terminal(unsigned short columns) {
    winsize size{};
    size.ws_col = columns;
    size.ws_row = 24;
    if (openpty(&master_, &terminal_, nullptr, nullptr, &size) != 0) {
      return;
    }
    reader_ = std::thread([this] {
      char block[4096];
      for (ssize_t got; (got = ::read(master_, block, sizeof block)) > 0;) {
        shown_.append(block, static_cast<std::size_t>(got));
      }
    });
  }
  ~Terminal() { close(); }
  bool opened() const { return terminal_ != -1; }
  int descriptor() const { return terminal_; }
  // Everything it got, once no more can come.
  const std::string& close() {
    if (terminal_ != -1) {
      ::close(terminal_);
      terminal_ = -1;
      reader_.join();
      ::close(master_);
    }
    return shown_;
  }

 private:
  int master_ = -1;
  int terminal_ = -1;
  std::string shown_;
  std::thread reader_;
};

// A console that draws its progress line on descriptor as often as it can.
Console::Terminal drawnOn(int descriptor) {
  Console::Terminal terminal;
  terminal.shared = true;
  terminal.progressDescriptor = descriptor;
  terminal.firstDrawAfter = std::chrono::milliseconds(0);
  terminal.redrawEvery = std::chrono::milliseconds(1);
  return terminal;
}

// Each drawing of the progress line: what follows a carriage return up to the
// erase that ends it.
std::vector<std::string> drawings(const std::string& bytes) {
  std::vector<std::string> found;
  for (std::size_t at = bytes.find("\rprg: "); at != std::string::npos;
       at = bytes.find("\rprg: ", at + 1)) {
    found.push_back(bytes.substr(at + 1, bytes.find("\x1b[K", at) - at - 1));
  }
  return found;
}

TEST(ConsoleTest, ProgressLineNeverTearsAMessageNorWraps) {
  for (const unsigned short columns : {80, 20}) {
    SCOPED_TRACE(columns);
    Terminal screenOf(columns);
    if (!screenOf.opened()) {
      GTEST_SKIP() << "no pseudo-terminal";
    }
    std::string expected;
    {
      DescriptorBuffer bytes(screenOf.descriptor());
      Console console(bytes, bytes, drawnOn(screenOf.descriptor()));
      console.progress()->enter(ProgressLine::Stage::kParsing);
      for (int i = 0; i < 200; ++i) {
        // A line in two writes, with time for the progress line in between.
        console.tell("message " + std::to_string(i) + ": ");
        std::this_thread::sleep_for(std::chrono::microseconds(300));
        console.tell("done\n");
        std::this_thread::sleep_for(std::chrono::microseconds(300));
        expected.append("message ").append(std::to_string(i)).append(": done\n");
      }
      console.tell("Output written.");
      expected.append("Output written.");
    }
    const std::string& shown = screenOf.close();
    const std::vector<std::string> drawn = drawings(shown);
    ASSERT_FALSE(drawn.empty());
    for (const std::string& line : drawn) {
      EXPECT_LT(line.size(), columns) << line;
    }
    EXPECT_EQ(screen(shown), expected);
  }
}

// A resized terminal gets the line again at once, cut to its new width, however
// long the wait before the next redraw would be.
TEST(ConsoleTest, ARedrawFollowsAResize) {
  Terminal screenOf(80);
  if (!screenOf.opened()) {
    GTEST_SKIP() << "no pseudo-terminal";
  }
  Console::Terminal slow = drawnOn(screenOf.descriptor());
  slow.redrawEvery = std::chrono::seconds(30);
  DescriptorBuffer bytes(screenOf.descriptor());
  Console console(bytes, bytes, slow);
  console.progress()->enter(ProgressLine::Stage::kParsing);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  winsize narrow{};
  narrow.ws_col = 12;
  narrow.ws_row = 24;
  ASSERT_EQ(ioctl(screenOf.descriptor(), TIOCSWINSZ, &narrow), 0);
  console.terminalResized();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  console.sayInEnding("", "", false);
  const std::vector<std::string> drawn = drawings(screenOf.close());
  // The stage shown depends on whether the first drawing came before enter.
  ASSERT_EQ(drawn.size(), 2u);
  EXPECT_EQ(drawn[0].rfind("prg: ", 0), 0u) << drawn[0];
  EXPECT_GT(drawn[0].size(), 11u);
  EXPECT_EQ(drawn[1], "prg: parsin");
}

TEST(ConsoleTest, AnEndingErasesTheProgressLine) {
  Terminal screenOf(80);
  if (!screenOf.opened()) {
    GTEST_SKIP() << "no pseudo-terminal";
  }
  DescriptorBuffer bytes(screenOf.descriptor());
  Console console(bytes, bytes, drawnOn(screenOf.descriptor()));
  console.progress()->enter(ProgressLine::Stage::kWriting);
  console.tell("Joining the tables: ");
  console.tell("\nJoin complete.\n");
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  console.sayInEnding("", "", false);  // as an interruption does
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  const std::string& shown = screenOf.close();
  EXPECT_FALSE(drawings(shown).empty());
  EXPECT_EQ(screen(shown), "Joining the tables: \nJoin complete.\n");
}

TEST(ConsoleTest, NoProgressLineOnADumbTerminal) {
  Terminal screenOf(80);
  if (!screenOf.opened()) {
    GTEST_SKIP() << "no pseudo-terminal";
  }
  const char* term = std::getenv("TERM");
  const std::string saved = term == nullptr ? "" : term;
  setenv("TERM", "dumb", 1);
  {
    DescriptorBuffer bytes(screenOf.descriptor());
    Console console(bytes, bytes, drawnOn(screenOf.descriptor()));
    console.progress()->enter(ProgressLine::Stage::kParsing);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    console.tell("Output written.");
  }
  term == nullptr ? unsetenv("TERM") : setenv("TERM", saved.c_str(), 1);
  EXPECT_EQ(screenOf.close(), "Output written.");
}

}  // namespace
