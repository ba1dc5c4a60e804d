// Two TvxZModem components on the two ends of the virtual null-modem, each through a real
// TvxComm, with CRC-32 and CRC-16, every control character escaped or not, and small and
// large subpackets: one batch of files around the subpacket sizes arrives byte for byte with
// each file's date, beside a file of the same name that was there first (kept, under the
// collision policy that renames the new one), and nothing else is left in the receiving
// directory; both sides report success.
#include <gtest/gtest.h>

#include <utime.h>

#include <QFileInfo>
#include <tuple>

#include "support/kermitfiles.h"
#include "support/nullmodem.h"
#include "support/ptypair.h"
#include "support/zmodemside.h"

using namespace kermitfiles;

namespace {

// CRC-32, every control escaped, the subpacket size.
using TMode = std::tuple<bool, bool, int>;

class ZModemOverNullModem : public ::testing::TestWithParam<TMode> {};

std::int64_t ModifiedOf(const std::string& path) {
  return QFileInfo(QString::fromStdString(path)).lastModified().toSecsSinceEpoch();
}

}  // namespace

TEST_P(ZModemOverNullModem, BatchArrivesWhole) {
  const auto [crc32, escape, subpacket] = GetParam();
  const std::string src = MakeTempDir("zm-src"), dst = MakeTempDir("zm-dst");
  TvxNullModem modem("/virtual/zmodem-nm-A", "/virtual/zmodem-nm-B");
  ZModemSide sender(modem.Name(0), 91), receiver(modem.Name(1), 92);
  for (ZModemSide* s : {&sender, &receiver}) s->zmodem.SetTimeout(2000);
  receiver.zmodem.SetDefaultPath(dst);
  receiver.zmodem.SetFileCollision(fcRename);
  receiver.zmodem.SetCrc32(crc32);
  receiver.zmodem.SetEscapeControls(escape);
  sender.zmodem.SetSubpacketSize(subpacket);
  const std::size_t sizes[] = {0, 1, 1023, 1024, 1025, 8192, 8193, 300 * 1000};
  std::vector<std::string> sent;
  for (std::size_t i = 0; i < std::size(sizes); ++i) {
    const std::string name = src + "/f" + std::to_string(i) + ".bin";
    sent.push_back(i == 1 ? std::string(1, '\x18')
                          : RandomBytes(sizes[i], static_cast<unsigned>(i + 7)));
    WriteAll(name, sent.back());
    const utimbuf times{1700000000 + static_cast<time_t>(i), 1700000000 + static_cast<time_t>(i)};
    ASSERT_EQ(::utime(name.c_str(), &times), 0);
  }
  const std::string old = "what was there before";
  WriteAll(dst + "/f3.bin", old);
  receiver.zmodem.ReceiveFiles();
  sender.zmodem.SendFiles(src + "/f*.bin");
  ASSERT_TRUE(WaitUntil([&] { return receiver.Ended() && sender.Ended(); }, 120000));
  ASSERT_TRUE(sender.Succeeded(static_cast<int>(sent.size()))) << sender.last.failure;
  ASSERT_TRUE(receiver.Succeeded(static_cast<int>(sent.size()))) << receiver.last.failure;
  EXPECT_EQ(sender.zmodem.Crc32InUse(), crc32);
  EXPECT_EQ(receiver.zmodem.Crc32InUse(), crc32);
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
  EXPECT_EQ(EntriesOf(dst).size(), sent.size() + 1);
  EXPECT_TRUE(sender.fatal.empty() && receiver.fatal.empty());
}

INSTANTIATE_TEST_SUITE_P(Modes, ZModemOverNullModem,
                         ::testing::Values(TMode{true, false, 1024}, TMode{false, false, 1024},
                                           TMode{true, true, 8192}, TMode{false, true, 32}),
                         [](const ::testing::TestParamInfo<TMode>& info) {
                           return std::string(std::get<0>(info.param) ? "crc32" : "crc16") +
                                  (std::get<1>(info.param) ? "_escaped" : "") + "_" +
                                  std::to_string(std::get<2>(info.param));
                         });
