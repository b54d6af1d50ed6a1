// A check for the fuzz targets: a violated invariant is a crash that libFuzzer records.
#pragma once

#include <cstdio>

/// Ends the process at once, with the failed condition on standard error, unless `condition`.
#define SK_FUZZ_CHECK(condition)                                                         \
  do {                                                                                   \
    if (!(condition)) {                                                                  \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      std::fflush(stderr);                                                               \
      __builtin_trap();                                                                  \
    }                                                                                    \
  } while (false)
