#include "tables/input_text.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "support/cut_paths.h"
#include "support/folder.h"
#include "text/split.h"
#include "text/split_paths.h"
#include "text/string_helpers.h"

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

// Lines cut with their ends found in the same pass agree, on each path of the
// splitter, with lines read first and cut after: the same lines, fields, views,
// counts and next lines, on texts of short lines with line ends, CRs, quotes and
// escapes at every place of a block, and lines that run into the text's end, which
// is never read past.
TEST(InputTextTest, LinesCutWithTheirEndsAgreeWithLinesCutAfter) {
  const char bytes[] = {'a', ',', ' ', '\'', '\\', '\r', '\n', '\n', 'x'};
  onEveryCutPath([&] {
    std::mt19937 random(12);
    for (int round = 0; round < 20000; ++round) {
      const std::size_t size = random() % 300;
      // Exactly the text's bytes, so that a read past its end is caught.
      const auto memory = std::make_unique<char[]>(size);
      const unsigned rare = 1 + random() % 24;
      for (std::size_t i = 0; i < size; ++i) {
        memory[i] = random() % rare == 0 ? bytes[random() % sizeof bytes] : 'v';
      }
      const std::string_view text(memory.get(), size);
      SCOPED_TRACE(::testing::PrintToString(std::string(text)));
      LineReader after(text);
      LineReader cut(text);
      LineReader counted(text);
      std::string_view line;
      std::string_view cutLine;
      std::string_view countedLine;
      std::vector<std::string_view> fields;
      std::vector<std::string_view> cutFields;
      std::size_t count = 0;
      for (bool more = true; more;) {
        more = after.next(line);
        ASSERT_EQ(cut.nextFields(cutLine, ',', cutFields), more);
        ASSERT_EQ(counted.nextFieldCount(countedLine, ',', count), more);
        ASSERT_EQ(cut.position(), after.position());
        ASSERT_EQ(counted.position(), after.position());
        if (!more) {
          break;
        }
        ASSERT_EQ(cutLine.data(), line.data());
        ASSERT_EQ(cutLine.size(), line.size());
        ASSERT_EQ(countedLine, line);
        ASSERT_EQ(count, fieldCount(trimmedView(line), ','));
        splitTrimmedInto(line, ',', fields);
        ASSERT_EQ(cutFields, fields);
        for (std::size_t f = 0; f < fields.size(); ++f) {
          ASSERT_EQ(cutFields[f].data(), fields[f].data());
        }
      }
    }
  });
  if (widestCutPath() < CutPath::kAvx2) {
    GTEST_SKIP() << "this CPU has no AVX2: its cut was not taken";
  }
}

}  // namespace
