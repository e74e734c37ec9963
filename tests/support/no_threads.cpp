// Preloaded into the program by tests that need a process where no thread can be
// started, as under a low address-space limit: every pthread_create fails.
#include <pthread.h>

#include <cerrno>

extern "C" int pthread_create(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*) {
  return EAGAIN;
}
