// Two TvxXModem components on the virtual null-modem with bytes dropped, flipped and
// duplicated on the cable in both directions (CRC-16, 128-byte and 1K blocks). Whatever the
// line does, a receiver that reports its file received holds the file sent up to padding,
// and, on a line that duplicates no bytes, a sender that reports success has a receiver
// that does too. Seeds are printed.
#include <gtest/gtest.h>

#include <iostream>

#include "support/kermitfiles.h"
#include "support/nullmodem.h"
#include "support/ptypair.h"
#include "support/xmodemside.h"

using namespace kermitfiles;

TEST(XModemHostileLine, SuccessOnlyWithTheFile) {
  const TvxNullModem::Faults kinds[] = {
      {0.0005, 0, 0, 1}, {0, 0.0005, 0, 1}, {0, 0, 0.0005, 1}, {0.0003, 0.0003, 0.0003, 1}};
  int succeeded = 0, failed = 0;
  for (unsigned seed = 1; seed <= 3; ++seed) {
    for (const TvxNullModem::Faults& kind : kinds) {
      for (const bool block1k : {false, true}) {
        std::cout << "seed " << seed << " drop " << kind.dropRate << " flip " << kind.flipRate
                  << " dup " << kind.duplicateRate << " 1K " << block1k << "\n";
        SCOPED_TRACE(seed);
        const std::string src = MakeTempDir("xm-h-src"), dst = MakeTempDir("xm-h-dst");
        const std::string sent = RandomBytes(20 * 1000, seed);
        WriteAll(src + "/f.bin", sent);
        TvxNullModem modem("/virtual/xmodem-h-A", "/virtual/xmodem-h-B");
        TvxNullModem::Faults f = kind;
        f.seed = seed;
        modem.SetFaults(0, f);
        f.seed = seed + 100;
        modem.SetFaults(1, f);
        XModemSide sender(modem.Name(0), 85), receiver(modem.Name(1), 86);
        for (XModemSide* s : {&sender, &receiver}) {
          s->xmodem.SetTimeout(200);
          s->xmodem.SetErrorLimit(60);
        }
        sender.xmodem.SetBlock1K(block1k);
        receiver.xmodem.SetDefaultPath(dst);
        receiver.xmodem.SetReceiveName("f.bin");
        sender.xmodem.SendFiles(src + "/f.bin");
        receiver.xmodem.ReceiveFile();
        ASSERT_TRUE(WaitUntil([&] { return sender.Ended() && receiver.Ended(); }, 120000));
        if (receiver.Succeeded()) {
          EXPECT_TRUE(SentUpToPadding(sent, ReadAll(dst + "/f.bin"), block1k ? 1024 : 128));
          ++succeeded;
        } else {
          // An ACK names no block: only a line that duplicates bytes may pass one for another.
          if (kind.duplicateRate == 0) {
            EXPECT_FALSE(sender.Succeeded()) << "the sender reports a file the receiver lacks";
          }
          // Nothing of a failed file stays: XMODEM cannot resume it.
          EXPECT_TRUE(EntriesOf(dst).empty());
          ++failed;
        }
      }
    }
  }
  std::cout << succeeded << " sessions delivered the file, " << failed << " failed\n";
  EXPECT_GT(succeeded, 0);
}
