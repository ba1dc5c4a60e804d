// The seed of a randomised test: VXCOMM_TEST_SEED when set (to repeat a failed run), else a
// fresh one. The seed is printed, so every failure can be replayed.
#pragma once

// Prints "<What> seed N (VXCOMM_TEST_SEED=N to repeat)" and returns N.
unsigned TestSeed(const char* what);
