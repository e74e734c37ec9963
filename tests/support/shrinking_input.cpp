// Preloaded into the program by tests of an input that changes under a run: the
// first time the program asks what in.txt is (or the time PRG_CUT_AT_ASKING says),
// the file is cut to half its size, as another program could cut it just then.
#include <dlfcn.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

extern "C" int fstat(int descriptor, struct stat* status) {
  static const auto real = reinterpret_cast<int (*)(int, struct stat*)>(dlsym(RTLD_NEXT, "fstat"));
  static bool cut = false;
  static int asked = 0;
  static const int cutAt = [] {
    const char* given = std::getenv("PRG_CUT_AT_ASKING");
    return given == nullptr ? 1 : std::atoi(given);
  }();
  const int result = real(descriptor, status);
  if (result != 0 || cut || !S_ISREG(status->st_mode)) {
    return result;
  }
  char path[PATH_MAX];
  const std::string link = "/proc/self/fd/" + std::to_string(descriptor);
  const ssize_t length = readlink(link.c_str(), path, sizeof path - 1);
  const std::string name(path, length > 0 ? static_cast<std::size_t>(length) : 0);
  if (name.size() >= 7 && name.compare(name.size() - 7, 7, "/in.txt") == 0 && ++asked == cutAt) {
    cut = true;
    truncate(name.c_str(), status->st_size / 2);
  }
  return result;
}
