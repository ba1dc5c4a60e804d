#include "testseed.h"

#include <cstdio>
#include <cstdlib>
#include <random>

unsigned TestSeed(const char* what) {
  unsigned seed = std::random_device{}();
  if (const char* fixed = std::getenv("VXCOMM_TEST_SEED")) {
    char* end = nullptr;
    const unsigned long value = std::strtoul(fixed, &end, 10);
    if (end != fixed && *end == '\0') {
      seed = static_cast<unsigned>(value);
    } else {
      std::fprintf(stderr, "VXCOMM_TEST_SEED=%s is no number; a fresh seed is used\n", fixed);
    }
  }
  std::printf("%s seed %u (VXCOMM_TEST_SEED=%u to repeat)\n", what, seed, seed);
  std::fflush(stdout);
  return seed;
}
