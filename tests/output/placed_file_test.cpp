// Where PlacedFile puts a file: beside its name and then over it when it can be
// replaced so, in place when it can't, and never a part of a file under the name.

#include "output/placed_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <map>
#include <string>

#include "support/folder.h"

namespace {

TEST(PlacedFileTest, ChoosesBesideOrInPlace) {
  const struct {
    const char* what;
    std::function<void(const Folder&)> setUp;
    std::string name;
    bool inPlace;
    std::map<std::string, std::string> placed;     // the folder once placed
    std::map<std::string, std::string> discarded;  // the folder once discarded
  } cases[] = {
      {"a new name", [](const Folder&) {}, "out.txt", false, {{"out.txt", "new"}}, {}},
      {"a file",
       [](const Folder& f) { f.write("out.txt", "old"); },
       "out.txt",
       false,
       {{"out.txt", "new"}},
       {{"out.txt", "old"}}},
      {"a link to a file",
       [](const Folder& f) {
         f.write("real.txt", "old");
         symlink("real.txt", (f.path() / "out.txt").c_str());
       },
       "out.txt",
       false,
       {{"out.txt", "-> real.txt"}, {"real.txt", "new"}},
       {{"out.txt", "-> real.txt"}, {"real.txt", "old"}}},
      {"a file in a folder of its own",
       [](const Folder& f) { f.write("d/out.txt", "old"); },
       "d/out.txt",
       false,
       {{"d", "<dir>"}, {"d/out.txt", "new"}},
       {{"d", "<dir>"}, {"d/out.txt", "old"}}},
      {"a file with a second name",
       [](const Folder& f) {
         f.write("out.txt", "old");
         link((f.path() / "out.txt").c_str(), (f.path() / "other.txt").c_str());
       },
       "out.txt",
       false,
       {{"other.txt", "old"}, {"out.txt", "new"}},
       {{"other.txt", "old"}, {"out.txt", "old"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    for (const bool place : {true, false}) {
      Folder folder;
      c.setUp(folder);
      PlacedFile file;
      ASSERT_TRUE(file.open((folder.path() / c.name).string())) << std::strerror(errno);
      EXPECT_EQ(file.inPlace(), c.inPlace);
      EXPECT_TRUE(file.regular());
      ASSERT_EQ(file.write("new"), 3u);
      if (place) {
        EXPECT_TRUE(file.place());
      } else {
        file.discard();
      }
      EXPECT_EQ(folder.contents(), place ? c.placed : c.discarded);
    }
  }
}

// What is not a regular file, or names a descriptor the process has, is written
// where it is; what can't be opened says why.
TEST(PlacedFileTest, WritesDevicesAndDescriptorsInPlace) {
  Folder folder;
  ASSERT_EQ(mkfifo((folder.path() / "fifo").c_str(), 0600), 0);
  const int reader = ::open((folder.path() / "fifo").c_str(), O_RDONLY | O_NONBLOCK);
  for (const std::string& name : {std::string("/dev/null"), (folder.path() / "fifo").string()}) {
    SCOPED_TRACE(name);
    PlacedFile file;
    ASSERT_TRUE(file.open(name));
    EXPECT_TRUE(file.inPlace());
    EXPECT_FALSE(file.regular());
    EXPECT_EQ(file.write("bytes"), 5u);
    EXPECT_TRUE(file.place());
  }
  ::close(reader);
  EXPECT_EQ(folder.names(), std::vector<std::string>{"fifo"});
  for (const char* name : {"/dev/stdout", "/dev/fd/2", "/proc/self/fd/1", "-"}) {
    EXPECT_TRUE(namesADescriptor(name)) << name;
  }
  EXPECT_FALSE(namesADescriptor("out.txt"));
  const struct {
    std::string name;
    int reason;
  } refused[] = {{"", ENOENT}, {(folder.path() / "missing/out.txt").string(), ENOENT}};
  for (const auto& c : refused) {
    SCOPED_TRACE(c.name);
    PlacedFile file;
    errno = 0;
    EXPECT_FALSE(file.open(c.name));
    EXPECT_EQ(errno, c.reason);
  }
}

}  // namespace
