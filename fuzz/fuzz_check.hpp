// A property that fails stops the fuzz run with the expression and its line.
#pragma once

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition)                                                               \
  do {                                                                                      \
    if (!(condition)) {                                                                     \
      std::fprintf(stderr, "property failed: %s at %s:%d\n", #condition, __FILE__, __LINE__); \
      std::abort();                                                                         \
    }                                                                                       \
  } while (0)
