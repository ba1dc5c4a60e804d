// Two TvxYModem components on the two ends of the virtual null-modem, each through a real
// TvxComm, acknowledged and streaming (YMODEM-g): one batch of files around the block sizes
// arrives byte for byte with each file's date, beside a file of the same name that was there
// first (kept, under the collision policy that renames the new one), and nothing else is left
// in the receiving directory.
#include <gtest/gtest.h>

#include <utime.h>

#include <QFileInfo>

#include "support/kermitfiles.h"
#include "support/nullmodem.h"
#include "support/ptypair.h"
#include "support/ymodemside.h"

using namespace kermitfiles;

namespace {

class YModemOverNullModem : public ::testing::TestWithParam<bool> {};

std::int64_t ModifiedOf(const std::string& path) {
  return QFileInfo(QString::fromStdString(path)).lastModified().toSecsSinceEpoch();
}

}  // namespace

TEST_P(YModemOverNullModem, BatchArrivesWhole) {
  const bool streaming = GetParam();
  const std::string src = MakeTempDir("ym-src"), dst = MakeTempDir("ym-dst");
  TvxNullModem modem("/virtual/ymodem-nm-A", "/virtual/ymodem-nm-B");
  YModemSide sender(modem.Name(0), 91), receiver(modem.Name(1), 92);
  for (YModemSide* s : {&sender, &receiver}) s->ymodem.SetTimeout(2000);
  receiver.ymodem.SetDefaultPath(dst);
  receiver.ymodem.SetStreaming(streaming);
  receiver.ymodem.SetFileCollision(fcRename);
  const std::size_t sizes[] = {0, 1, 127, 128, 1023, 1024, 1025, 100 * 1000};
  std::vector<std::string> sent;
  for (std::size_t i = 0; i < std::size(sizes); ++i) {
    const std::string name = src + "/f" + std::to_string(i) + ".bin";
    sent.push_back(RandomBytes(sizes[i], static_cast<unsigned>(i + 7)));
    WriteAll(name, sent.back());
    const utimbuf times{1700000000 + static_cast<time_t>(i), 1700000000 + static_cast<time_t>(i)};
    ASSERT_EQ(::utime(name.c_str(), &times), 0);
  }
  const std::string old = "what was there before";
  WriteAll(dst + "/f3.bin", old);
  sender.ymodem.SendFiles(src + "/f*.bin");
  receiver.ymodem.ReceiveFiles();
  ASSERT_TRUE(WaitUntil([&] { return receiver.Ended() && sender.Ended(); }, 120000));
  ASSERT_TRUE(sender.Succeeded(static_cast<int>(sent.size()))) << sender.last.failure;
  ASSERT_TRUE(receiver.Succeeded(static_cast<int>(sent.size()))) << receiver.last.failure;
  EXPECT_EQ(receiver.ymodem.StreamingInUse(), streaming);
  EXPECT_EQ(sender.ymodem.StreamingInUse(), streaming);
  const std::vector<std::string> stored = receiver.Complete();
  ASSERT_EQ(stored.size(), sent.size());
  for (std::size_t i = 0; i < sent.size(); ++i) {
    SCOPED_TRACE(stored[i]);
    const std::string plain = dst + "/f" + std::to_string(i) + ".bin";
    if (i == 3)
      EXPECT_NE(stored[i], plain);
    else
      EXPECT_EQ(stored[i], plain);
    const std::string got = ReadAll(stored[i]);
    EXPECT_TRUE(got == sent[i]) << got.size() << " bytes for " << sent[i].size();
    EXPECT_EQ(ModifiedOf(stored[i]), 1700000000 + static_cast<std::int64_t>(i));
  }
  EXPECT_EQ(ReadAll(dst + "/f3.bin"), old);
  // The files and the one there before: no part left behind.
  EXPECT_EQ(EntriesOf(dst).size(), sent.size() + 1);
  EXPECT_TRUE(sender.fatal.empty() && receiver.fatal.empty());
}

INSTANTIATE_TEST_SUITE_P(Modes, YModemOverNullModem, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return std::string(info.param ? "streaming" : "acknowledged");
                         });
