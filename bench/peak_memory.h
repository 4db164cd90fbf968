// The most memory this process has held at once, in bytes: the peak resident set on POSIX, the
// peak working set on Windows.
#pragma once

#include <cstdint>

uint64_t PeakMemoryBytes();
