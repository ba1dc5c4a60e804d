// The YMODEM receiver fed a sender's bytes directly: a name with directories or ".." is
// stored as its last component inside DefaultPath and nothing is written outside it; the
// length in block 0 cuts the padding off and its time dates the file; block numbers wrap
// past 255; a file that ends short of its length, a block past its length or a block 0 that
// cannot be read fails and leaves nothing.
#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>

#include "support/kermitfiles.h"
#include "support/ptypair.h"
#include "support/ymodemfeed.h"

using namespace kermitfiles;

namespace {

const std::string kEot = "\x04";

// A subdirectory of a fresh directory: what lands beside it is outside DefaultPath.
std::string InnerDir(std::string& outer) {
  outer = MakeTempDir("ym-feed");
  const std::string inner = outer + "/in";
  EXPECT_TRUE(QDir().mkpath(QString::fromStdString(inner)));
  return inner;
}

// Sends Data as blocks 1, 2, ... (1K blocks, a 128-byte one for a short tail), then EOT twice.
void FeedFile(YModemFeed& feed, const std::string& data) {
  std::uint8_t number = 1;
  for (std::size_t at = 0; at < data.size(); at += 1024)
    feed.Feed(Block(number++, data.substr(at, 1024)));
  feed.Feed(kEot);
  feed.Feed(kEot);
}

}  // namespace

TEST(YModemReceiver, NamesStayInsideTheDirectory) {
  std::string outer;
  const std::string dst = InnerDir(outer);
  YModemFeed feed(dst);
  feed.ymodem.ReceiveFiles();
  const std::pair<std::string, std::string> names[] = {{"../evil.bin", "evil.bin"},
                                                       {"sub/dir/name.bin", "name.bin"},
                                                       {"/abs.bin", "abs.bin"},
                                                       {"..", "unnamed"}};
  for (const auto& [sent, stored] : names) {
    feed.Feed(HeaderBlock(sent, "3 0"));
    FeedFile(feed, "abc");
  }
  feed.Feed(Block(0, "", 0));
  EXPECT_TRUE(feed.fatal.empty());
  EXPECT_TRUE(feed.ymodem.SessionResult().Ok());
  ASSERT_EQ(feed.Complete(), 4);
  for (std::size_t i = 0; i < std::size(names); ++i) {
    EXPECT_EQ(feed.files[i].name, dst + "/" + names[i].second);
    EXPECT_EQ(ReadAll(dst + "/" + names[i].second), "abc");
  }
  EXPECT_EQ(EntriesOf(dst).size(), 4u);
  EXPECT_EQ(EntriesOf(outer), std::vector<std::string>{"in"});
}

TEST(YModemReceiver, LengthCutsPaddingTimeDatesAndNumbersWrap) {
  const std::string dst = MakeTempDir("ym-feed");
  YModemFeed feed(dst);
  feed.ymodem.ReceiveFiles();
  feed.Feed(HeaderBlock("hello.txt", "5 13727410000"));  // 1600000000 in octal
  FeedFile(feed, "hello");
  // 258 blocks: numbers 1 to 255, then 0, 1, 2.
  const std::string big = RandomBytes(257 * 1024 + 10, 3);
  feed.Feed(HeaderBlock("big.bin", std::to_string(big.size()) + " 0"));
  FeedFile(feed, big);
  feed.Feed(Block(0, "", 0));
  EXPECT_TRUE(feed.fatal.empty()) << feed.fatal.front();
  EXPECT_TRUE(feed.ymodem.SessionResult().Ok());
  EXPECT_EQ(feed.Complete(), 2);
  EXPECT_EQ(ReadAll(dst + "/hello.txt"), "hello");
  EXPECT_EQ(QFileInfo(QString::fromStdString(dst + "/hello.txt")).lastModified().toSecsSinceEpoch(),
            1600000000);
  EXPECT_TRUE(ReadAll(dst + "/big.bin") == big);
}

TEST(YModemReceiver, ShortFileFailsAndLeavesNothing) {
  const std::string dst = MakeTempDir("ym-feed");
  YModemFeed feed(dst);
  feed.ymodem.ReceiveFiles();
  feed.Feed(HeaderBlock("short.bin", "2000 0"));
  FeedFile(feed, std::string(128, 'x'));
  EXPECT_EQ(feed.fatal.size(), 1u);
  EXPECT_EQ(feed.Complete(), 0);
  EXPECT_FALSE(feed.ymodem.SessionResult().Ok());
  EXPECT_EQ(feed.ymodem.State(), fsListen);
  EXPECT_TRUE(EntriesOf(dst).empty());
  // The sender is told: the session ends with CAN.
  EXPECT_NE(feed.answers.find("\x18\x18"), std::string::npos);
}

TEST(YModemReceiver, UnreadableHeaderFailsAndLeavesNothing) {
  const std::string dst = MakeTempDir("ym-feed");
  YModemFeed feed(dst);
  feed.ymodem.ReceiveFiles();
  feed.Feed(HeaderBlock("bad.bin", "12x 0"));
  EXPECT_EQ(feed.fatal.size(), 1u);
  EXPECT_EQ(feed.Complete(), 0);
  EXPECT_FALSE(feed.ymodem.SessionResult().Ok());
  EXPECT_TRUE(EntriesOf(dst).empty());
}

TEST(YModemReceiver, BlockPastTheLengthFailsAndLeavesNothing) {
  const std::string dst = MakeTempDir("ym-feed");
  YModemFeed feed(dst);
  feed.ymodem.ReceiveFiles();
  feed.Feed(HeaderBlock("long.bin", "100 0"));
  feed.Feed(Block(1, std::string(100, 'a')));
  feed.Feed(Block(2, std::string(100, 'b')));
  EXPECT_EQ(feed.fatal.size(), 1u);
  EXPECT_EQ(feed.Complete(), 0);
  EXPECT_FALSE(feed.ymodem.SessionResult().Ok());
  EXPECT_TRUE(EntriesOf(dst).empty());
}
