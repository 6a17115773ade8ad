// Checks inside fuzz targets. A failed check prints the condition and its place
// and aborts, so libFuzzer stops and writes the input that broke it.
#pragma once

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition)                                                                  \
  do {                                                                                         \
    if (!(condition)) {                                                                        \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition);     \
      std::abort();                                                                            \
    }                                                                                          \
  } while (0)
