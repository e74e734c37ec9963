// Preloaded into the program by tests of an input that another program rewrites in
// place while a run reads it: just before the thread start that PRG_REWRITE_AT_THREAD
// counts, in.txt gets other bytes of the same size. PRG_REWRITE_KIND says which:
// "commas" turns the space after each comma into a comma (more fields a line),
// "lines" turns each comma into a line end (more lines, fewer fields).
#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void rewrite(const char* kind) {
  const int file = ::open("in.txt", O_RDWR);
  if (file == -1) {
    return;
  }
  std::string text;
  char block[1 << 16];
  for (ssize_t got; (got = ::read(file, block, sizeof block)) > 0;) {
    text.append(block, static_cast<std::size_t>(got));
  }
  const bool lines = std::strcmp(kind, "lines") == 0;
  for (std::size_t i = 0; i + 1 < text.size(); ++i) {
    if (text[i] == ',' && lines) {
      text[i] = '\n';
    } else if (text[i] == ',' && text[i + 1] == ' ') {
      text[i + 1] = ',';
    }
  }
  [[maybe_unused]] const ssize_t put = ::pwrite(file, text.data(), text.size(), 0);
  ::close(file);
}

}  // namespace

extern "C" int pthread_create(pthread_t* thread, const pthread_attr_t* attributes,
                              void* (*start)(void*), void* argument) {
  using Create = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
  static const auto real = reinterpret_cast<Create>(dlsym(RTLD_NEXT, "pthread_create"));
  static std::atomic<int> started{0};
  const char* at = std::getenv("PRG_REWRITE_AT_THREAD");
  const char* kind = std::getenv("PRG_REWRITE_KIND");
  if (at != nullptr && kind != nullptr && ++started == std::atoi(at)) {
    rewrite(kind);
  }
  return real(thread, attributes, start, argument);
}
