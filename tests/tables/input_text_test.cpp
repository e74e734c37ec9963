#include "tables/input_text.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "support/folder.h"

namespace {

// A fault in the mapped input is a cut only past the end its file now has; inside
// it, the system failed to read the page, which must never read as zero bytes. A
// change noted before the file was mapped, by an earlier run of the process, is not
// this file's.
TEST(InputTextTest, TellsAReadErrorFromACut) {
  Folder folder;
  const long page = sysconf(_SC_PAGESIZE);
  folder.write("in.txt", std::string(static_cast<std::size_t>(4 * page), 'x'));
  const std::string path = (folder.path() / "in.txt").string();
  const int descriptor = open(path.c_str(), O_RDONLY);
  ASSERT_NE(descriptor, -1);
  struct stat seen {};
  ASSERT_EQ(fstat(descriptor, &seen), 0);
  noteInputChangedUnderRun();
  const std::unique_ptr<MappedFile> text = MappedFile::map(descriptor, seen);
  ASSERT_NE(text, nullptr);
  EXPECT_FALSE(text->changedSinceTaken());
  ASSERT_EQ(truncate(path.c_str(), 2 * page), 0);
  const char* const begin = text->text().data();
  const struct {
    const void* address;
    InputFault fault;
  } cases[] = {
      {begin + page + 10, InputFault::kReadError},
      {begin + 3 * page + 10, InputFault::kCut},
      {&seen, InputFault::kElsewhere},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<const char*>(c.address) - begin);
    EXPECT_EQ(faultInMappedInput(c.address), c.fault);
  }
  // The cut page now reads as zero bytes.
  EXPECT_EQ(text->text()[static_cast<std::size_t>(3 * page + 10)], '\0');
  EXPECT_TRUE(text->changedSinceTaken());
}

}  // namespace
