#include "output/async_writer.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "output/ordered_parts.h"
#include "support/memory_files.h"

namespace {

// A sink that takes only its first `room` bytes, as a full disk does.
class FullSink : public Sink {
 public:
  explicit FullSink(std::size_t room) : room_(room) {}
  std::size_t write(std::string_view bytes) override {
    const std::size_t taken = std::min(room_, bytes.size());
    room_ -= taken;
    return taken;
  }

 private:
  std::size_t room_;
};

// Small writes, single bytes and blocks larger than a buffer, meeting a buffer's
// end in every way, come out as the same bytes in the same order, with and
// without the writer thread.
TEST(AsyncWriterTest, KeepsOrderAcrossBufferBoundaries) {
  const std::string almostFull(OutputBuffer::kCapacity - 1, 'a');
  const std::string large(3 * OutputBuffer::kCapacity, 'b');
  const std::string copy = "the copy\n";
  for (const bool threaded : {false, true}) {
    SCOPED_TRACE(threaded ? "writer thread" : "no thread");
    StringSink sink;
    AsyncWriter writer;
    writer.setSink(&sink);
    if (threaded) {
      writer.startThread();
      ASSERT_TRUE(writer.threaded());
    }
    writer.writeBorrowed(copy);
    writer.write(almostFull);
    writer.write("x");
    writer.write(large);
    writer.write("0123");
    EXPECT_TRUE(writer.flush());
    EXPECT_TRUE(sink.bytes() == copy + almostFull + "x" + large + "0123");
    EXPECT_EQ(writer.bytesWritten(), sink.bytes().size());
  }
}

// Parts filled at once on several threads, each larger than the buffers a part
// may hold back, reach the sink in the order of their numbers.
TEST(AsyncWriterTest, PartsFromManyThreadsArriveInOrder) {
  constexpr std::size_t kParts = 12;
  const auto partBytes = [](std::size_t part) {
    return std::string(OutputBuffer::kCapacity / 3 + part * 1000, static_cast<char>('a' + part));
  };
  StringSink sink;
  AsyncWriter writer;
  writer.setSink(&sink);
  writer.startThread();
  writer.write("start\n");
  writer.beginParts();
  std::vector<std::thread> threads;
  for (std::size_t part = kParts; part-- > 0;) {  // the last parts start first
    threads.emplace_back([&writer, &partBytes, part] {
      OutputPart out(writer, part);
      const std::string bytes = partBytes(part);
      for (std::size_t i = 0; i < 4; ++i) {
        out.write(bytes);
      }
    });
  }
  for (std::thread& thread : threads) {
    thread.join();
  }
  writer.endParts();
  writer.write("end\n");
  ASSERT_TRUE(writer.flush());
  std::string expected = "start\n";
  for (std::size_t part = 0; part < kParts; ++part) {
    for (std::size_t i = 0; i < 4; ++i) {
      expected += partBytes(part);
    }
  }
  EXPECT_TRUE(sink.bytes() == expected + "end\n");
}

TEST(AsyncWriterTest, AFailedWriteFailsEveryLaterFlush) {
  FullSink sink(10);
  AsyncWriter writer;
  writer.setSink(&sink);
  writer.startThread();
  writer.write("0123456789");
  EXPECT_TRUE(writer.flush());
  writer.write("x");
  EXPECT_FALSE(writer.flush());
  writer.write("y");
  EXPECT_FALSE(writer.flush());
  EXPECT_EQ(writer.bytesWritten(), 10u);

  AsyncWriter unopened;
  unopened.write("lost");
  EXPECT_FALSE(unopened.flush());
}

// Every order in which three parts of two pieces each can end: the pieces come
// out by part, then in the order they were added.
TEST(OrderedPartsTest, HandsOnPiecesInPartOrder) {
  const std::vector<std::vector<std::size_t>> endings = {{0, 1, 2}, {0, 2, 1}, {1, 0, 2},
                                                         {1, 2, 0}, {2, 0, 1}, {2, 1, 0}};
  for (const std::vector<std::size_t>& order : endings) {
    SCOPED_TRACE(::testing::PrintToString(order));
    OrderedParts<std::string> parts;
    std::string out;
    for (const std::size_t part : order) {
      for (const char* piece : {"a", "b"}) {
        const std::string bytes = std::to_string(part) + piece;
        if (parts.due(part)) {
          out += bytes;
        } else {
          parts.hold(part, bytes);
        }
      }
      parts.end(part, [&out](std::string piece) { out += piece; });
    }
    EXPECT_EQ(out, "0a0b1a1b2a2b");
    EXPECT_EQ(parts.held(), 0u);
  }
}

}  // namespace
