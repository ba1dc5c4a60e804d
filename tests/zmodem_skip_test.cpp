// SkipFile on TvxZModem inside the second of three files, on either side of the virtual
// null-modem (each through a real TvxComm): the first and third files arrive byte for byte,
// nothing of the second is left in the receiving directory, its result reads skipped by the
// side that skipped it and by the peer on the other, and both sessions end by the protocol.
// Skip-all on the receiving side skips the rest of the batch, and the session still ends by the
// protocol.
#include <gtest/gtest.h>

#include "support/kermitfiles.h"
#include "support/nullmodem.h"
#include "support/ptypair.h"
#include "support/zmodemside.h"
#include "support/zmodemskip.h"

using namespace kermitfiles;
using namespace zmodemskip;

namespace {

struct NullModemPair {
  TvxNullModem modem{"/virtual/zmodem-skip-A", "/virtual/zmodem-skip-B"};
  ZModemSide sender{modem.Name(0), 81}, receiver{modem.Name(1), 82};
  std::string src = MakeTempDir("zm-skip-src"), dst = MakeTempDir("zm-skip-dst");

  NullModemPair() {
    for (ZModemSide* s : {&sender, &receiver}) s->zmodem.SetTimeout(2000);
    receiver.zmodem.SetDefaultPath(dst);
  }
  void Run() {
    receiver.zmodem.ReceiveFiles();
    sender.zmodem.SendFiles(src + "/s*.bin");
    ASSERT_TRUE(WaitUntil([&] { return receiver.Ended() && sender.Ended(); }, 60000));
  }
};

}  // namespace

TEST(ZModemSkip, TheReceiverSkipsTheSecondOfThree) {
  NullModemPair p;
  const std::vector<std::string> sent = WriteBatch(p.src, 31);
  bool skipped = false;
  SkipInSecondFile(p.receiver, false, skipped);
  p.Run();
  EXPECT_TRUE(skipped);
  EXPECT_TRUE(EndedWith(p.receiver, 2)) << p.receiver.last.failure;
  EXPECT_TRUE(EndedWith(p.sender, 2)) << p.sender.last.failure;
  EXPECT_EQ(Outcomes(p.receiver),
            (std::vector<TvxFileOutcome>{foComplete, foSkippedByUs, foComplete}));
  EXPECT_EQ(Outcomes(p.sender),
            (std::vector<TvxFileOutcome>{foComplete, foSkippedByPeer, foComplete}));
  ExpectFirstAndThird(p.dst, sent);
  EXPECT_TRUE(p.sender.fatal.empty() && p.receiver.fatal.empty());
}

TEST(ZModemSkip, TheSenderSkipsTheSecondOfThree) {
  NullModemPair p;
  const std::vector<std::string> sent = WriteBatch(p.src, 41);
  bool skipped = false;
  SkipInSecondFile(p.sender, false, skipped);
  p.Run();
  EXPECT_TRUE(skipped);
  EXPECT_TRUE(EndedWith(p.receiver, 2)) << p.receiver.last.failure;
  EXPECT_TRUE(EndedWith(p.sender, 2)) << p.sender.last.failure;
  EXPECT_EQ(Outcomes(p.sender),
            (std::vector<TvxFileOutcome>{foComplete, foSkippedByUs, foComplete}));
  EXPECT_EQ(Outcomes(p.receiver),
            (std::vector<TvxFileOutcome>{foComplete, foSkippedByPeer, foComplete}));
  ExpectFirstAndThird(p.dst, sent);
  EXPECT_TRUE(p.sender.fatal.empty() && p.receiver.fatal.empty());
}

TEST(ZModemSkip, TheReceiverSkipsAllFromTheSecond) {
  NullModemPair p;
  const std::vector<std::string> sent = WriteBatch(p.src, 51);
  bool skipped = false;
  SkipInSecondFile(p.receiver, true, skipped);
  p.Run();
  EXPECT_TRUE(skipped);
  EXPECT_TRUE(EndedWith(p.receiver, 1)) << p.receiver.last.failure;
  EXPECT_TRUE(EndedWith(p.sender, 1)) << p.sender.last.failure;
  EXPECT_EQ(Outcomes(p.receiver),
            (std::vector<TvxFileOutcome>{foComplete, foSkippedByUs, foSkippedByUs}));
  EXPECT_EQ(Outcomes(p.sender),
            (std::vector<TvxFileOutcome>{foComplete, foSkippedByPeer, foSkippedByPeer}));
  ExpectFirstAndThird(p.dst, sent, false);
}
