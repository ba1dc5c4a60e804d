// The XMODEM receiver fed random bytes (no EOT among them, so no sender ever ended a file):
// it never crashes, and it never reports a file received. The seed is printed.
#include <gtest/gtest.h>

#include <cstdlib>
#include <iostream>
#include <random>

#include "support/kermitfiles.h"
#include "support/ptypair.h"
#include "vxcomm/unqualified.h"
#include "vxcomm/vxxmodem.h"

TEST(XModemReceiverFuzz, RandomLineNeverDeliversAFile) {
  // A fixed seed, or XMODEM_FUZZ_SEED for another run.
  const char* given = std::getenv("XMODEM_FUZZ_SEED");
  const unsigned seed = given ? static_cast<unsigned>(std::strtoul(given, nullptr, 10)) : 20261209;
  std::cout << "seed " << seed << "\n";
  std::mt19937 rng(seed);
  for (int run = 0; run < 200; ++run) {
    const std::string dst = MakeTempDir("xm-fuzz");
    TvxXModem xmodem;
    xmodem.SetActive(true);
    xmodem.SetTimeout(60000);
    xmodem.SetErrorLimit(1000000);
    xmodem.SetDefaultPath(dst);
    xmodem.SetReceiveName("f.bin");
    xmodem.OnDataSend = [](TObject*, const void*, Cardinal, bool, bool& handled) {
      handled = true;
    };
    xmodem.OnFatalError = [](TObject*, Cardinal, Cardinal, const std::string&, bool& raise) {
      raise = false;
    };
    int complete = 0;
    xmodem.OnFileResult = [&](TObject*, const TvxFileResult& r) {
      complete += r.outcome == foComplete;
    };
    xmodem.ReceiveFile();
    std::string line(1 + rng() % 20000, '\0');
    for (char& c : line) {
      c = static_cast<char>(rng() % 256);
      if (c == 0x04) c = 0x01;  // SOH starts more blocks
    }
    for (std::size_t at = 0; at < line.size() && xmodem.State() == fsReceive;) {
      const std::size_t n = std::min<std::size_t>(line.size() - at, 1 + rng() % 300);
      xmodem.DataReceived(line.data() + at, static_cast<Cardinal>(n));
      at += n;
    }
    xmodem.Abort();
    EXPECT_EQ(complete, 0) << "run " << run;
    EXPECT_FALSE(xmodem.SessionResult().Ok()) << "run " << run;
    EXPECT_FALSE(kermitfiles::Exists(dst + "/f.bin")) << "run " << run;
  }
}
