// The ZMODEM receiver fed a sender's frames directly, its answers read back as frames: a
// damaged subpacket is asked for again with ZRPOS from the position it holds and the file
// still arrives whole; a ZEOF at another position is not taken; a file that ends short of
// its length, data past its length or the sender's cancel (five ZDLE) end the file and
// leave nothing in the directory; a ZFILE sent again is answered with the position held;
// names stay inside DefaultPath; ZFIN is answered with ZFIN and "OO" ends the session.
#include <gtest/gtest.h>

#include <QDir>
#include <QStorageInfo>

#include "support/kermitfiles.h"
#include "support/ptypair.h"
#include "vxcomm/unqualified.h"
#include "vxcomm/vxzmodem.h"

using namespace kermitfiles;
using namespace vxcomm::vxzmodem;

namespace {

// A receiver with no line: the test feeds it the sender's bytes and reads its answers.
struct ZModemFeed {
  explicit ZModemFeed(const std::string& dir) {
    zmodem.SetActive(true);
    zmodem.SetTimeout(600000);
    zmodem.SetDefaultPath(dir);
    zmodem.OnDataSend = [this](TObject*, const void* data, Cardinal len, bool, bool& handled) {
      const auto* p = static_cast<const std::uint8_t*>(data);
      for (Cardinal i = 0; i < len; ++i)
        if (reader.Take(p[i]) == TFrameEvent::kHeader) answers.push_back(reader.Header());
      handled = true;
    };
    zmodem.OnFatalError = [this](TObject*, Cardinal, Cardinal, const std::string& msg,
                                 bool& raise) {
      raise = false;
      fatal.push_back(msg);
    };
    zmodem.OnFileResult = [this](TObject*, const TvxFileResult& r) { files.push_back(r); };
  }
  // The component outlives the members its handlers fill: they go first.
  ~ZModemFeed() {
    zmodem.OnDataSend = nullptr;
    zmodem.OnFatalError = nullptr;
    zmodem.OnFileResult = nullptr;
  }
  ZModemFeed(const ZModemFeed&) = delete;
  ZModemFeed& operator=(const ZModemFeed&) = delete;
  void Feed(const std::vector<std::uint8_t>& bytes) {
    zmodem.DataReceived(bytes.data(), static_cast<Cardinal>(bytes.size()));
  }
  // The type and position of the last answer.
  std::pair<int, std::uint32_t> Last() const {
    if (answers.empty()) return {-1, 0};
    return {answers.back().type, answers.back().Position()};
  }

  TvxZModem zmodem;
  TFrameReader reader;
  std::vector<THeader> answers;
  std::vector<TvxFileResult> files;
  std::vector<std::string> fatal;
};

std::vector<std::uint8_t> ZFile(const std::string& name, const std::string& fields) {
  TFrameEncoder enc;
  std::vector<std::uint8_t> out;
  const std::string info = name + std::string(1, '\0') + fields + std::string(1, '\0');
  enc.Binary(THeader::Flags(ZFILE, kZcBin), true, out);
  enc.Subpacket(U(info), info.size(), kZCrcW, true, out);
  return out;
}

std::vector<std::uint8_t> Header(std::uint8_t type, std::uint32_t pos) {
  TFrameEncoder enc;
  std::vector<std::uint8_t> out;
  enc.Binary(THeader::At(type, pos), true, out);
  return out;
}

std::vector<std::uint8_t> Sub(const std::string& data, std::uint8_t end) {
  TFrameEncoder enc;
  std::vector<std::uint8_t> out;
  enc.Subpacket(U(data), data.size(), end, true, out);
  return out;
}

std::vector<std::uint8_t> operator+(std::vector<std::uint8_t> a,
                                    const std::vector<std::uint8_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

const std::pair<int, std::uint32_t> At(int type, std::uint32_t pos) {
  return {type, pos};
}

void Finish(ZModemFeed& feed) {
  TFrameEncoder enc;
  std::vector<std::uint8_t> fin;
  enc.Hex(THeader::At(ZFIN, 0), fin);
  feed.Feed(fin);
  EXPECT_EQ(feed.Last(), At(ZFIN, 0));
  feed.Feed({'O', 'O'});
}

}  // namespace

TEST(ZModemReceiver, DamageIsAskedForAgainFromThePositionHeld) {
  const std::string dst = MakeTempDir("zm-feed");
  ZModemFeed feed(dst);
  feed.zmodem.ReceiveFiles();
  ASSERT_EQ(feed.Last(), At(ZRINIT, 0x23000000u));
  const std::string data = RandomBytes(3000, 5);
  feed.Feed(ZFile("a.bin", "3000 0"));
  ASSERT_EQ(feed.Last(), At(ZRPOS, 0));
  std::vector<std::uint8_t> second = Sub(data.substr(1000, 1000), kZCrcG);
  second[second.size() / 2] ^= 0x04;
  feed.Feed(Header(ZDATA, 0) + Sub(data.substr(0, 1000), kZCrcG) + second +
            Sub(data.substr(2000), kZCrcE) + Header(ZEOF, 3000));
  // The ZEOF came before the sender heard the ZRPOS: not taken.
  EXPECT_EQ(feed.Last(), At(ZRPOS, 1000));
  EXPECT_TRUE(feed.files.empty());
  feed.Feed(Header(ZDATA, 1000) + Sub(data.substr(1000, 1000), kZCrcQ));
  EXPECT_EQ(feed.Last(), At(ZACK, 2000));
  feed.Feed(Sub(data.substr(2000), kZCrcE) + Header(ZEOF, 3000));
  EXPECT_EQ(feed.Last(), At(ZRINIT, 0x23000000u));
  Finish(feed);
  EXPECT_TRUE(feed.fatal.empty());
  EXPECT_TRUE(feed.zmodem.SessionResult().Ok());
  ASSERT_EQ(feed.files.size(), 1u);
  EXPECT_EQ(feed.files[0].outcome, foComplete);
  EXPECT_TRUE(ReadAll(dst + "/a.bin") == data);
  EXPECT_EQ(feed.zmodem.Repeats(), 1);
}

TEST(ZModemReceiver, DataFromAnotherPositionIsAskedForAgain) {
  const std::string dst = MakeTempDir("zm-feed");
  ZModemFeed feed(dst);
  feed.zmodem.ReceiveFiles();
  const std::string data = RandomBytes(2000, 6);
  feed.Feed(ZFile("b.bin", "2000 0"));
  feed.Feed(Header(ZDATA, 1000) + Sub(data.substr(1000), kZCrcE));
  EXPECT_EQ(feed.Last(), At(ZRPOS, 0));
  // The ZFILE again (the sender missed the ZRPOS): the position held again.
  feed.Feed(ZFile("b.bin", "2000 0"));
  EXPECT_EQ(feed.Last(), At(ZRPOS, 0));
  feed.Feed(Header(ZDATA, 0) + Sub(data.substr(0, 1000), kZCrcG) + Sub(data.substr(1000), kZCrcE) +
            Header(ZEOF, 2000));
  Finish(feed);
  EXPECT_TRUE(feed.zmodem.SessionResult().Ok()) << feed.zmodem.SessionResult().failure;
  EXPECT_TRUE(ReadAll(dst + "/b.bin") == data);
}

TEST(ZModemReceiver, AnEndShortOfTheLengthFailsAndLeavesNothing) {
  const std::string dst = MakeTempDir("zm-feed");
  ZModemFeed feed(dst);
  feed.zmodem.ReceiveFiles();
  feed.Feed(ZFile("short.bin", "3000 0"));
  feed.Feed(Header(ZDATA, 0) + Sub(std::string(1000, 'x'), kZCrcE) + Header(ZEOF, 1000));
  ASSERT_EQ(feed.fatal.size(), 1u);
  EXPECT_FALSE(feed.zmodem.SessionResult().Ok());
  ASSERT_EQ(feed.files.size(), 1u);
  EXPECT_EQ(feed.files[0].outcome, foFailed);
  EXPECT_TRUE(EntriesOf(dst).empty());
}

TEST(ZModemReceiver, DataPastTheLengthFailsAndLeavesNothing) {
  const std::string dst = MakeTempDir("zm-feed");
  ZModemFeed feed(dst);
  feed.zmodem.ReceiveFiles();
  feed.Feed(ZFile("long.bin", "10 0"));
  feed.Feed(Header(ZDATA, 0) + Sub(std::string(11, 'x'), kZCrcE) + Header(ZEOF, 11));
  ASSERT_EQ(feed.fatal.size(), 1u);
  ASSERT_EQ(feed.files.size(), 1u);
  EXPECT_EQ(feed.files[0].outcome, foFailed);
  EXPECT_TRUE(EntriesOf(dst).empty());
}

TEST(ZModemReceiver, TheSendersCancelAbortsAndLeavesNothing) {
  const std::string dst = MakeTempDir("zm-feed");
  ZModemFeed feed(dst);
  feed.zmodem.ReceiveFiles();
  feed.Feed(ZFile("c.bin", "3000 0"));
  feed.Feed(Header(ZDATA, 0) + Sub(std::string(1000, 'c'), kZCrcG));
  feed.Feed({0x18, 0x18, 0x18, 0x18, 0x18, 0x08, 0x08, 0x08, 0x08, 0x08});
  EXPECT_TRUE(feed.fatal.empty());
  EXPECT_EQ(feed.zmodem.State(), fsListen);
  EXPECT_FALSE(feed.zmodem.SessionResult().ended);
  EXPECT_EQ(feed.zmodem.SessionResult().failure, "The peer cancelled the transfer.");
  ASSERT_EQ(feed.files.size(), 1u);
  EXPECT_EQ(feed.files[0].outcome, foAborted);
  EXPECT_TRUE(EntriesOf(dst).empty());
}

TEST(ZModemReceiver, TheSessionsEndInsideAFileFails) {
  const std::string dst = MakeTempDir("zm-feed");
  ZModemFeed feed(dst);
  feed.zmodem.ReceiveFiles();
  feed.Feed(ZFile("d.bin", "3000 0"));
  feed.Feed(Header(ZDATA, 0) + Sub(std::string(1000, 'd'), kZCrcE) + Header(ZFIN, 0));
  ASSERT_EQ(feed.fatal.size(), 1u);
  EXPECT_FALSE(feed.zmodem.SessionResult().Ok());
  EXPECT_TRUE(EntriesOf(dst).empty());
}

TEST(ZModemReceiver, NamesStayInsideTheDirectory) {
  const std::string outer = MakeTempDir("zm-feed");
  const std::string dst = outer + "/in";
  ASSERT_TRUE(QDir().mkpath(QString::fromStdString(dst)));
  ZModemFeed feed(dst);
  feed.zmodem.ReceiveFiles();
  const std::pair<std::string, std::string> names[] = {
      {"../evil.bin", "evil.bin"}, {"sub/dir/name.bin", "name.bin"}, {"/abs.bin", "abs.bin"}};
  for (const auto& [sent, stored] : names) {
    feed.Feed(ZFile(sent, "3 0"));
    feed.Feed(Header(ZDATA, 0) + Sub("abc", kZCrcE) + Header(ZEOF, 3));
  }
  Finish(feed);
  EXPECT_TRUE(feed.zmodem.SessionResult().Ok());
  for (const auto& [sent, stored] : names) EXPECT_EQ(ReadAll(dst + "/" + stored), "abc");
  EXPECT_EQ(EntriesOf(dst).size(), 3u);
  EXPECT_EQ(EntriesOf(outer), std::vector<std::string>{"in"});
}

TEST(ZModemReceiver, ARefusedFileIsSkippedAndTheSessionGoesOn) {
  const std::string dst = MakeTempDir("zm-feed");
  WriteAll(dst + "/kept.bin", "old");
  ZModemFeed feed(dst);
  feed.zmodem.SetFileCollision(fcDiscard);
  feed.zmodem.ReceiveFiles();
  feed.Feed(ZFile("kept.bin", "3 0"));
  EXPECT_EQ(feed.Last().first, ZSKIP);
  feed.Feed(ZFile("new.bin", "3 0"));
  feed.Feed(Header(ZDATA, 0) + Sub("new", kZCrcE) + Header(ZEOF, 3));
  Finish(feed);
  EXPECT_TRUE(feed.fatal.empty());
  EXPECT_EQ(ReadAll(dst + "/kept.bin"), "old");
  EXPECT_EQ(ReadAll(dst + "/new.bin"), "new");
  ASSERT_EQ(feed.files.size(), 2u);
  EXPECT_EQ(feed.files[0].outcome, foDiscarded);
  EXPECT_EQ(feed.files[1].outcome, foComplete);
  EXPECT_TRUE(feed.zmodem.SessionResult().ended);
}

// ZFREECNT is answered with ZACK and the free bytes of the receiving directory's file
// system (within ZMODEM's 32 bits), the session going on.
TEST(ZModemReceiver, ZfreecntIsAnsweredWithTheFreeSpace) {
  const std::string dst = MakeTempDir("zm-feed");
  ZModemFeed feed(dst);
  feed.zmodem.ReceiveFiles();
  feed.Feed(Header(ZFREECNT, 0));
  const QStorageInfo disk(QString::fromStdString(dst));
  EXPECT_EQ(feed.Last().first, ZACK);
  EXPECT_GT(feed.Last().second, 0u);
  EXPECT_LE(feed.Last().second, std::min<std::int64_t>(disk.bytesTotal(), UINT32_MAX));
  feed.Feed(ZFile("free.bin", "3 0"));
  feed.Feed(Header(ZDATA, 0) + Sub("abc", kZCrcE) + Header(ZEOF, 3));
  Finish(feed);
  EXPECT_TRUE(feed.zmodem.SessionResult().Ok());
  EXPECT_EQ(ReadAll(dst + "/free.bin"), "abc");
}
