// TvxXModem against the standard XMODEM programs rx and sx, run as black boxes with their
// standard input and output on one end of a socat pseudo-terminal pair and ours on the
// other: both directions, 128-byte and 1K blocks, the sum and CRC-16. The file that
// arrives is the one sent up to SUB padding.
#include <gtest/gtest.h>

#include <QProcess>
#include <iostream>

#include "support/kermitfiles.h"
#include "support/linepeer.h"
#include "support/ptypair.h"
#include "support/socatpair.h"
#include "support/xmodemside.h"

using namespace kermitfiles;

namespace {

struct PeerCase {
  bool block1k;
  bool crc;
};

class XModemPeer : public ::testing::TestWithParam<PeerCase> {};

const std::size_t kSizes[] = {1025, 100 * 1000};

std::string CaseName(const ::testing::TestParamInfo<PeerCase>& info) {
  return std::string(info.param.block1k ? "k1" : "b128") + (info.param.crc ? "_crc" : "_sum");
}

}  // namespace

TEST_P(XModemPeer, OursToRx) {
  const PeerCase pc = GetParam();
  int lost_eot_acks = 0;
  for (const std::size_t size : kSizes) {
    SCOPED_TRACE(size);
    // A pair of its own for each peer: nothing a session left on the line reaches the next.
    SocatPair pair;
    const std::string src = MakeTempDir("xm-rx-src"), dst = MakeTempDir("xm-rx-dst");
    XModemSide ours(pair.A(), 83);
    // rx takes its time over the first block: a shorter wait would send it again under it.
    ours.xmodem.SetTimeout(3000);
    ours.xmodem.SetRetryLimit(4);
    ours.xmodem.SetBlock1K(pc.block1k);
    const std::string sent = RandomBytes(size, static_cast<unsigned>(size));
    WriteAll(src + "/out.bin", sent);
    QProcess rx;
    StartLinePeer(rx, std::string("rx -b -q ") + (pc.crc ? "-c " : "") + "out.bin", pair.B(), dst);
    ours.xmodem.SendFiles(src + "/out.bin");
    ASSERT_TRUE(LinePeerExited(rx));
    ASSERT_TRUE(WaitUntil([&] { return ours.Ended(); }, 30000));
    EXPECT_EQ(rx.exitCode(), 0);
    // rx may exit before its ACK of our EOT leaves the line (the ACK is lost then): our
    // session fails, though every block crossed. It never reports success without the ACK.
    if (!ours.Succeeded()) {
      EXPECT_EQ(ours.last.failure, "Too many retries.");
      EXPECT_EQ(ours.file.bytes, static_cast<std::int64_t>(size));
      EXPECT_EQ(ours.last.Files(foComplete), 0);
      ++lost_eot_acks;
    }
    EXPECT_EQ(ours.xmodem.CrcInUse(), pc.crc);
    EXPECT_TRUE(SentUpToPadding(sent, ReadAll(dst + "/out.bin"), pc.block1k ? 1024 : 128));
  }
  std::cout << "EOT acknowledgements lost by rx: " << lost_eot_acks << " of " << std::size(kSizes)
            << "\n";
}

TEST_P(XModemPeer, SxToOurs) {
  const PeerCase pc = GetParam();
  SocatPair pair;
  const std::string src = MakeTempDir("xm-sx-src"), dst = MakeTempDir("xm-sx-dst");
  XModemSide ours(pair.A(), 84);
  ours.xmodem.SetTimeout(3000);
  ours.xmodem.SetCrc(pc.crc);
  ours.xmodem.SetDefaultPath(dst);
  for (const std::size_t size : kSizes) {
    SCOPED_TRACE(size);
    const std::string sent = RandomBytes(size, static_cast<unsigned>(size) + 1);
    WriteAll(src + "/in.bin", sent);
    ours.xmodem.SetReceiveName("in" + std::to_string(size) + ".bin");
    const int before = ours.sessions;
    QProcess sx;
    StartLinePeer(sx, std::string("sx -b -q ") + (pc.block1k ? "-k " : "") + "in.bin", pair.B(),
                  src);
    ours.xmodem.ReceiveFile();
    ASSERT_TRUE(LinePeerExited(sx));
    ASSERT_TRUE(WaitUntil([&] { return ours.sessions > before; }, 20000));
    EXPECT_EQ(sx.exitCode(), 0);
    EXPECT_TRUE(ours.Succeeded()) << ours.last.failure;
    EXPECT_EQ(ours.xmodem.CrcInUse(), pc.crc);
    EXPECT_TRUE(SentUpToPadding(sent, ReadAll(dst + "/" + ours.xmodem.ReceiveName()),
                                pc.block1k ? 1024 : 128));
  }
}

INSTANTIATE_TEST_SUITE_P(Modes, XModemPeer,
                         ::testing::Values(PeerCase{false, false}, PeerCase{false, true},
                                           PeerCase{true, false}, PeerCase{true, true}),
                         CaseName);
