// XMODEM and YMODEM on their own retry and error limits, over the virtual null-modem: a long
// transfer on a line that damages blocks now and then arrives whole, however many damaged
// blocks it met in all (ten tries are for one block, not for the session); and a peer that
// never answers ends the session after those tries instead of holding it open.
#include <gtest/gtest.h>

#include "support/kermitfiles.h"
#include "support/nullmodem.h"
#include "support/ptypair.h"
#include "support/xmodemside.h"
#include "support/ymodemside.h"

using namespace kermitfiles;

namespace {

// More damaged blocks than the ten a whole session was once allowed, few enough that no
// block is refused ten times running: about one 128-byte block in 40 gets a flipped bit.
constexpr double kFlipRate = 0.0002;
constexpr std::size_t kFileSize = 200 * 1000;
// Every wait short, so that a session of many repeats takes seconds.
constexpr int kTimeoutMs = 300;

TvxNullModem::Faults Flips(unsigned seed) {
  TvxNullModem::Faults f;
  f.flipRate = kFlipRate;
  f.seed = seed;
  return f;
}

}  // namespace

TEST(BlockTransferLimits, XModemDeliversAcrossManyDamagedBlocks) {
  const std::string src = MakeTempDir("bt-x-src"), dst = MakeTempDir("bt-x-dst");
  const std::string sent = RandomBytes(kFileSize, 31);
  WriteAll(src + "/f.bin", sent);
  TvxNullModem modem("/virtual/bt-x-A", "/virtual/bt-x-B");
  modem.SetFaults(0, Flips(7));
  XModemSide sender(modem.Name(0), 87), receiver(modem.Name(1), 88);
  for (XModemSide* s : {&sender, &receiver}) s->xmodem.SetTimeout(kTimeoutMs);
  EXPECT_EQ(sender.xmodem.RetryLimit(), 10);
  receiver.xmodem.SetDefaultPath(dst);
  receiver.xmodem.SetReceiveName("f.bin");
  sender.xmodem.SendFiles(src + "/f.bin");
  receiver.xmodem.ReceiveFile();
  ASSERT_TRUE(WaitUntil([&] { return sender.Ended() && receiver.Ended(); }, 120000));
  ASSERT_TRUE(receiver.Succeeded()) << receiver.last.failure;
  EXPECT_TRUE(sender.Succeeded()) << sender.last.failure;
  EXPECT_TRUE(SentUpToPadding(sent, ReadAll(dst + "/f.bin"), 128));
  // The line did what the test is about.
  EXPECT_GT(receiver.xmodem.ErrorCount(), 10);
}

TEST(BlockTransferLimits, YModemDeliversAcrossManyDamagedBlocks) {
  const std::string src = MakeTempDir("bt-y-src"), dst = MakeTempDir("bt-y-dst");
  const std::string sent = RandomBytes(kFileSize, 32);
  WriteAll(src + "/f.bin", sent);
  TvxNullModem modem("/virtual/bt-y-A", "/virtual/bt-y-B");
  modem.SetFaults(0, Flips(8));
  YModemSide sender(modem.Name(0), 89), receiver(modem.Name(1), 90);
  for (YModemSide* s : {&sender, &receiver}) s->ymodem.SetTimeout(kTimeoutMs);
  receiver.ymodem.SetDefaultPath(dst);
  sender.ymodem.SendFiles(src + "/f.bin");
  receiver.ymodem.ReceiveFiles();
  ASSERT_TRUE(WaitUntil([&] { return sender.Ended() && receiver.Ended(); }, 120000));
  ASSERT_TRUE(receiver.Succeeded(1)) << receiver.last.failure;
  EXPECT_TRUE(sender.Succeeded(1)) << sender.last.failure;
  EXPECT_EQ(ReadAll(dst + "/f.bin"), sent);
  EXPECT_GT(receiver.ymodem.ErrorCount(), 10);
}

// Nobody on the far end: each side gives up after its tries, and nothing is reported
// received or sent.
TEST(BlockTransferLimits, ASilentPeerEndsTheSession) {
  const std::string src = MakeTempDir("bt-s-src"), dst = MakeTempDir("bt-s-dst");
  WriteAll(src + "/f.bin", RandomBytes(1000, 33));
  // Each on a cable of its own with nothing at the other end.
  TvxNullModem toSender("/virtual/bt-s-A", "/virtual/bt-s-B");
  TvxNullModem toReceiver("/virtual/bt-s-C", "/virtual/bt-s-D");
  XModemSide xSender(toSender.Name(0), 91);
  YModemSide yReceiver(toReceiver.Name(0), 92);
  xSender.xmodem.SetTimeout(100);
  yReceiver.ymodem.SetTimeout(100);
  yReceiver.ymodem.SetDefaultPath(dst);
  xSender.xmodem.SendFiles(src + "/f.bin");
  yReceiver.ymodem.ReceiveFiles();
  ASSERT_TRUE(WaitUntil([&] { return xSender.Ended() && yReceiver.Ended(); }, 30000));
  EXPECT_EQ(xSender.last.failure, "Too many retries.");
  EXPECT_EQ(xSender.last.Files(foComplete), 0);
  EXPECT_EQ(yReceiver.last.failure, "Too many retries.");
  EXPECT_EQ(yReceiver.last.Files(foComplete), 0);
  EXPECT_TRUE(EntriesOf(dst).empty());
}
