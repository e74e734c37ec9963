// The progress line on a terminal that the run's messages share: drawn as often
// as it can be, it never tears a message apart, and the screen ends up showing the
// messages alone.

#include <gtest/gtest.h>
#include <pty.h>
#include <unistd.h>

#include <chrono>
#include <ostream>
#include <string>
#include <thread>

#include "driver/progress.h"
#include "support/screen.h"

namespace {

// A stream buffer that hands every byte to a descriptor at once.
class DescriptorBuffer : public std::streambuf {
 public:
  explicit DescriptorBuffer(int descriptor) : descriptor_(descriptor) {}

 protected:
  int overflow(int byte) override {
    const char one = traits_type::to_char_type(byte);
    return ::write(descriptor_, &one, 1) == 1 ? byte : traits_type::eof();
  }
  std::streamsize xsputn(const char* bytes, std::streamsize count) override {
    return ::write(descriptor_, bytes, static_cast<std::size_t>(count));
  }

 private:
  int descriptor_;
};

TEST(ProgressLineTest, NeverTearsAMessageOnASharedTerminal) {
  int master = -1;
  int terminal = -1;
  ASSERT_EQ(openpty(&master, &terminal, nullptr, nullptr, nullptr), 0);
  std::string shown;
  std::thread reader([&] {
    char block[4096];
    for (ssize_t got; (got = ::read(master, block, sizeof block)) > 0;) {
      shown.append(block, static_cast<std::size_t>(got));
    }
  });
  std::string expected;
  {
    ProgressLine line(terminal, std::chrono::milliseconds(0), std::chrono::milliseconds(1));
    line.enter(ProgressLine::Stage::kParsing);
    DescriptorBuffer bytes(terminal);
    ProgressAwareBuffer messages(line, bytes);
    std::ostream console(&messages);
    for (int i = 0; i < 200; ++i) {
      // A line in two writes, with time for the progress line in between.
      console << "message " << i << ": " << std::flush;
      std::this_thread::sleep_for(std::chrono::microseconds(300));
      console << "done\n" << std::flush;
      std::this_thread::sleep_for(std::chrono::microseconds(300));
      expected.append("message ").append(std::to_string(i)).append(": done\n");
    }
    console << "Output written." << std::flush;
    expected.append("Output written.");
  }
  ::close(terminal);
  reader.join();
  ::close(master);
  EXPECT_NE(shown.find("\rprg: parsing the tables"), std::string::npos);
  EXPECT_EQ(screen(shown), expected);
}

}  // namespace
