// Ending a YMODEM session early, fed directly: our abort tells the peer with five CANs and
// leaves nothing of a part-received file; the peer's CAN CAN ends the session as aborted
// with no CAN sent back, sending or receiving; a skip ends the session with the file skipped.
#include <gtest/gtest.h>

#include "support/kermitfiles.h"
#include "support/ptypair.h"
#include "support/ymodemfeed.h"

using namespace kermitfiles;

namespace {

const std::string kFiveCans(5, '\x18');

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

TEST(YModemCancel, OurAbortTellsThePeerAndLeavesNothing) {
  const std::string dst = MakeTempDir("ym-cancel");
  YModemFeed feed(dst);
  feed.ymodem.ReceiveFiles();
  feed.Feed(HeaderBlock("part.bin", "3000 0"));
  feed.Feed(Block(1, std::string(1024, 'p')));
  feed.ymodem.Abort();
  EXPECT_TRUE(EndsWith(feed.answers, kFiveCans));
  EXPECT_EQ(feed.ymodem.State(), fsListen);
  EXPECT_EQ(feed.Complete(), 0);
  ASSERT_EQ(feed.files.size(), 1u);
  EXPECT_FALSE(feed.ymodem.SessionResult().Ok());
  EXPECT_TRUE(EntriesOf(dst).empty());
}

TEST(YModemCancel, PeerCancelEndsReceiving) {
  const std::string dst = MakeTempDir("ym-cancel");
  YModemFeed feed(dst);
  feed.ymodem.ReceiveFiles();
  feed.Feed(HeaderBlock("part.bin", "3000 0"));
  feed.Feed(Block(1, std::string(1024, 'p')));
  const std::size_t before = feed.answers.size();
  feed.Feed("\x18\x18");
  EXPECT_EQ(feed.answers.size(), before) << "no CAN goes back to a peer that cancelled";
  EXPECT_EQ(feed.ymodem.State(), fsListen);
  EXPECT_TRUE(feed.fatal.empty());
  EXPECT_EQ(feed.Complete(), 0);
  EXPECT_FALSE(feed.ymodem.SessionResult().Ok());
  EXPECT_TRUE(EntriesOf(dst).empty());
}

TEST(YModemCancel, PeerCancelEndsSending) {
  const std::string src = MakeTempDir("ym-cancel");
  WriteAll(src + "/out.bin", RandomBytes(5000, 1));
  YModemFeed feed(src);
  feed.ymodem.SendFiles(src + "/out.bin");
  feed.Feed("C");
  // Block 0 names the file.
  ASSERT_GE(feed.answers.size(), 133u);
  EXPECT_EQ(feed.answers.substr(3, 8), std::string("out.bin\0", 8));
  feed.Feed(
      "\x06"
      "C");
  EXPECT_EQ(feed.answers.size(), 133u + 1029u);
  feed.Feed("\x18\x18");
  EXPECT_EQ(feed.answers.size(), 133u + 1029u);
  EXPECT_EQ(feed.ymodem.State(), fsListen);
  EXPECT_EQ(feed.Complete(), 0);
  EXPECT_FALSE(feed.ymodem.SessionResult().Ok());
}

TEST(YModemCancel, SkipEndsTheSession) {
  const std::string dst = MakeTempDir("ym-cancel");
  YModemFeed feed(dst);
  feed.ymodem.ReceiveFiles();
  feed.Feed(HeaderBlock("part.bin", "3000 0"));
  feed.ymodem.SkipFile(false, true);
  EXPECT_TRUE(EndsWith(feed.answers, kFiveCans));
  EXPECT_EQ(feed.ymodem.State(), fsListen);
  ASSERT_EQ(feed.files.size(), 1u);
  EXPECT_EQ(feed.files[0].outcome, foSkippedByUs);
  EXPECT_TRUE(EntriesOf(dst).empty());
}
