#include "output/output_file.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Small writes, single bytes and blocks larger than the buffer, meeting the buffer's
// end in every way, must come out as the same bytes in the same order.
TEST(OutputFileTest, KeepsOrderAcrossBufferBoundaries) {
  const std::size_t megabyte = std::size_t{1} << 20;
  const std::string almostFull(megabyte - 1, 'a');
  const std::string large(3 * megabyte, 'b');
  const std::string small = "0123456789";
  std::string collected;
  OutputFile out;
  out.openInMemory(collected);
  std::string expected;
  out.write(almostFull);
  out.put('x');
  out.put('y');
  out.write(small);
  out.write(large);
  out.write(almostFull);
  out.write(small);
  expected = almostFull + "xy" + small + large + almostFull + small;
  EXPECT_TRUE(out.flush());
  EXPECT_TRUE(collected == expected);
}

TEST(OutputFileTest, WritingWithoutOpeningFails) {
  OutputFile out;
  out.write("lost");
  EXPECT_FALSE(out.flush());
}

}  // namespace
