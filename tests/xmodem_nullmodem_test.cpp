// Two TvxXModem components on the two ends of the virtual null-modem, each through a real
// TvxComm: every combination of block size and check, over files around the block sizes.
// The file received is the one sent followed only by SUB padding to a block boundary, and
// with StripPadding exactly the one sent.
#include <gtest/gtest.h>

#include "support/kermitfiles.h"
#include "support/nullmodem.h"
#include "support/ptypair.h"
#include "support/xmodemside.h"

using namespace kermitfiles;

namespace {

struct Mode {
  bool block1k;
  bool crc;
};

class XModemOverNullModem : public ::testing::TestWithParam<Mode> {};

// Random bytes of Size that do not end in SUB (so that stripping the padding gives them back).
std::string FileOf(std::size_t size, unsigned seed) {
  std::string bytes = RandomBytes(size, seed);
  if (!bytes.empty() && bytes.back() == '\x1a') bytes.back() = 'x';
  return bytes;
}

}  // namespace

TEST_P(XModemOverNullModem, FilesArriveUpToPadding) {
  const Mode mode = GetParam();
  const std::string src = MakeTempDir("xm-src"), dst = MakeTempDir("xm-dst");
  TvxNullModem modem("/virtual/xmodem-nm-A", "/virtual/xmodem-nm-B");
  XModemSide sender(modem.Name(0), 81), receiver(modem.Name(1), 82);
  for (XModemSide* s : {&sender, &receiver}) s->xmodem.SetTimeout(2000);
  sender.xmodem.SetBlock1K(mode.block1k);
  receiver.xmodem.SetCrc(mode.crc);
  receiver.xmodem.SetDefaultPath(dst);
  int run = 0;
  for (const std::size_t size : {0, 1, 127, 128, 129, 1023, 1024, 1025, 100 * 1000}) {
    for (const bool strip : {false, true}) {
      SCOPED_TRACE(::testing::Message() << size << " bytes, strip " << strip);
      const std::string name = "f" + std::to_string(run++);
      const std::string sent = FileOf(size, static_cast<unsigned>(run));
      WriteAll(src + "/" + name, sent);
      receiver.xmodem.SetReceiveName(name);
      receiver.xmodem.SetStripPadding(strip);
      const int before = receiver.sessions;
      sender.xmodem.SendFiles(src + "/" + name);
      receiver.xmodem.ReceiveFile();
      ASSERT_TRUE(
          WaitUntil([&] { return receiver.sessions > before && sender.sessions > before; }, 60000));
      ASSERT_TRUE(sender.Succeeded()) << sender.last.failure;
      ASSERT_TRUE(receiver.Succeeded()) << receiver.last.failure;
      EXPECT_EQ(receiver.xmodem.CrcInUse(), mode.crc);
      EXPECT_EQ(sender.xmodem.CrcInUse(), mode.crc);
      const std::string received = ReadAll(dst + "/" + name);
      if (strip)
        EXPECT_TRUE(received == sent) << received.size() << " bytes for " << sent.size();
      else
        EXPECT_TRUE(SentUpToPadding(sent, received, mode.block1k ? 1024 : 128));
      // Nothing else in the receiving directory: no part left behind.
      EXPECT_EQ(EntriesOf(dst).size(), static_cast<std::size_t>(run));
    }
  }
  EXPECT_TRUE(sender.fatal.empty() && receiver.fatal.empty());
}

INSTANTIATE_TEST_SUITE_P(Modes, XModemOverNullModem,
                         ::testing::Values(Mode{false, false}, Mode{false, true}, Mode{true, false},
                                           Mode{true, true}),
                         [](const ::testing::TestParamInfo<Mode>& info) {
                           return std::string(info.param.block1k ? "k1" : "b128") +
                                  (info.param.crc ? "_crc" : "_sum");
                         });
