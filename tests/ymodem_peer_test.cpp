// TvxYModem against the standard YMODEM programs rb and sb, run as black boxes with their
// standard input and output on one end of a socat pseudo-terminal pair and ours on the
// other: one batch each way of files around the block sizes, which arrive byte for byte
// (rb and ours both cut a file to the length in its block 0) with their dates; sb also
// under YMODEM-g.
#include <gtest/gtest.h>

#include <utime.h>

#include <QFileInfo>
#include <QProcess>
#include <iostream>

#include "support/kermitfiles.h"
#include "support/linepeer.h"
#include "support/ptypair.h"
#include "support/socatpair.h"
#include "support/ymodemside.h"

using namespace kermitfiles;

namespace {

const std::size_t kSizes[] = {0, 1, 127, 128, 1023, 1024, 1025, 100 * 1000};
constexpr std::int64_t kDate = 1650000000;

std::string NameOf(std::size_t i) {
  return "f" + std::to_string(i) + ".bin";
}

// Writes the batch into Dir, each file dated kDate + its index; returns the contents.
std::vector<std::string> WriteBatch(const std::string& dir) {
  std::vector<std::string> sent;
  for (std::size_t i = 0; i < std::size(kSizes); ++i) {
    sent.push_back(RandomBytes(kSizes[i], static_cast<unsigned>(i + 40)));
    const std::string path = dir + "/" + NameOf(i);
    WriteAll(path, sent.back());
    const auto when = static_cast<time_t>(kDate + static_cast<std::int64_t>(i));
    const utimbuf times{when, when};
    EXPECT_EQ(::utime(path.c_str(), &times), 0);
  }
  return sent;
}

void ExpectBatch(const std::string& dir, const std::vector<std::string>& sent) {
  for (std::size_t i = 0; i < sent.size(); ++i) {
    SCOPED_TRACE(NameOf(i));
    const std::string path = dir + "/" + NameOf(i);
    const std::string got = ReadAll(path);
    EXPECT_TRUE(got == sent[i]) << got.size() << " bytes for " << sent[i].size();
    EXPECT_EQ(QFileInfo(QString::fromStdString(path)).lastModified().toSecsSinceEpoch(),
              kDate + static_cast<std::int64_t>(i));
  }
  EXPECT_EQ(EntriesOf(dir).size(), sent.size());
}

std::string AllNames() {
  std::string names;
  for (std::size_t i = 0; i < std::size(kSizes); ++i) names += " " + NameOf(i);
  return names;
}

}  // namespace

TEST(YModemPeer, OursToRb) {
  SocatPair pair;
  const std::string src = MakeTempDir("ym-rb-src"), dst = MakeTempDir("ym-rb-dst");
  const std::vector<std::string> sent = WriteBatch(src);
  YModemSide ours(pair.A(), 93);
  ours.ymodem.SetTimeout(3000);
  QProcess rb;
  StartLinePeer(rb, "rb -q", pair.B(), dst);
  ours.ymodem.SendFiles(src + "/f*.bin");
  ASSERT_TRUE(LinePeerExited(rb));
  ASSERT_TRUE(WaitUntil([&] { return ours.Ended(); }, 30000));
  EXPECT_EQ(rb.exitCode(), 0);
  EXPECT_TRUE(ours.Succeeded(static_cast<int>(sent.size()))) << ours.last.failure;
  EXPECT_FALSE(ours.ymodem.StreamingInUse());
  ExpectBatch(dst, sent);
  std::cout << "Sent to rb: " << ours.ymodem.Repeats() << " blocks again, "
            << ours.ymodem.ErrorCount() << " errors\n";
}

TEST(YModemPeer, SbToOurs) {
  int lost_ends = 0;
  for (const bool streaming : {false, true}) {
    SCOPED_TRACE(streaming ? "YMODEM-g" : "acknowledged");
    SocatPair pair;
    const std::string src = MakeTempDir("ym-sb-src"), dst = MakeTempDir("ym-sb-dst");
    const std::vector<std::string> sent = WriteBatch(src);
    YModemSide ours(pair.A(), 94);
    ours.ymodem.SetTimeout(3000);
    ours.ymodem.SetDefaultPath(dst);
    ours.ymodem.SetStreaming(streaming);
    ours.ymodem.SetRetryLimit(3);
    QProcess sb;
    StartLinePeer(sb, "sb -q" + AllNames(), pair.B(), src);
    ours.ymodem.ReceiveFiles();
    ASSERT_TRUE(LinePeerExited(sb));
    ASSERT_TRUE(WaitUntil([&] { return ours.Ended(); }, 30000));
    EXPECT_EQ(sb.exitCode(), 0);
    // Under YMODEM-g sb sends the batch's end and exits without waiting for our answer; the
    // end may be lost with its side of the pair then. Every file is stored all the same, and
    // the session never reports success without that end.
    if (!ours.Succeeded(static_cast<int>(sent.size()))) {
      EXPECT_TRUE(streaming) << ours.last.failure;
      EXPECT_EQ(ours.last.failure, "Too many retries.");
      EXPECT_EQ(ours.last.Files(foComplete), static_cast<int>(sent.size()));
      ++lost_ends;
    }
    EXPECT_EQ(ours.ymodem.StreamingInUse(), streaming);
    ExpectBatch(dst, sent);
  }
  std::cout << "Batch ends lost by sb under YMODEM-g: " << lost_ends << " of 1\n";
}
