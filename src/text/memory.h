// Large arrays and the machine's memory pages.
#pragma once

#include <cstddef>

// Asks the system to back the array with large pages where it can: a run over
// gigabytes of cells then misses the address translation cache far less often. A
// hint only; nothing changes when it is not taken.
void adviseLargePages(void* begin, std::size_t bytes);
