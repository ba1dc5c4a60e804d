// TvxKermit with long packets and repeat counts against the standard Kermit programs over a
// linked pty pair through the real TvxComm: ckermit with its defaults and each block check,
// with 9024-byte packets, with repeat counts and a file of long runs, our side classic (the
// fall-back), a 7E1 line with eighth-bit prefixing, and gkermit with its defaults. Every
// file must arrive byte-identical, and what the two sides agreed is checked so that the
// test fails if long packets or repeat counts silently stop being used. On this clean line
// nothing is sent twice and no wait runs out, also beside a load on every core.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "support/kermitfiles.h"
#include "support/kermitpeer.h"
#include "support/kermitside.h"
#include "support/ptypair.h"
#include "support/socatpair.h"
#include "vxcomm/unqualified.h"
#include "vxcomm/vxkermit.h"

using namespace kermitfiles;

namespace {

constexpr int kPeerLimitSec = 90;
constexpr int kPort = 137;

// How our side and the peer run the session.
struct ExtCase {
  const char* name;
  KermitPeer::Program program;
  TvxKermitCrc crc;            // what our side proposes when it sends
  const char* peerSettings;    // ckermit settings, for both directions
  bool classic;                // our side with everything off
  bool sevenBit;               // 7 data bits, even parity on both ends, eighth-bit prefix "&"
  std::size_t longestAtLeast;  // the longest packet that must cross; 0: classic only
};

// What our side agreed, read while a file was on its way.
struct Agreed {
  std::size_t sendLong = 0, recvLong = 0;
  std::uint8_t rept = 0, qbin = 0;
};

std::string RunsFile() {
  std::string s;
  std::mt19937 rng(11);
  while (s.size() < 400000) s += std::string(1 + rng() % 500, static_cast<char>(rng() % 256));
  return s;
}

class KermitExtendedPeer : public ::testing::TestWithParam<ExtCase> {
 protected:
  void SetUp() override {
    src = MakeTempDir("xpeer-src");
    dst = MakeTempDir("xpeer-dst");
    names = WriteStandardSet(src, 1024 * 1024);
    WriteAll(src + "/runs.bin", RunsFile());
    names.push_back("runs.bin");
    WriteAll(src + "/tilde~amp&hash#.txt", std::string(300, '~') + "&&&###" + EveryByte(2));
    names.push_back("tilde~amp&hash#.txt");
  }

  void Configure(KermitSide& ours) {
    const ExtCase& c = GetParam();
    ours.kermit.SetLongPackets(!c.classic);
    ours.kermit.SetRepeatCounts(!c.classic);
    if (c.sevenBit) {
      ours.comm.SetByteSize(7);
      ours.comm.SetParity(pEven);
      ours.kermit.SetEighthBitPrefix('&');
    }
    ours.kermit.OnFileStart = [this, &ours](TObject*) {
      agreed.sendLong = ours.kermit.SendLongPacketLength();
      agreed.recvLong = ours.kermit.RecvLongPacketLength();
      agreed.rept = ours.kermit.Rept();
      agreed.qbin = ours.kermit.Qbin();
      ours.NoteFileStart();
    };
  }

  std::string PeerSettings() const {
    const ExtCase& c = GetParam();
    std::string s = c.peerSettings;
    if (c.sevenBit) s += std::string(s.empty() ? "" : ", ") + "set parity even";
    return s;
  }

  void ExpectSameFiles() {
    for (const auto& n : names) {
      ASSERT_TRUE(Exists(dst + "/" + n)) << n;
      EXPECT_TRUE(ReadAll(dst + "/" + n) == ReadAll(src + "/" + n)) << n;
    }
  }

  // What must have been agreed, from our side's view: long packets unless classic (gkermit
  // and ckermit both offer them by default), the eighth-bit prefix on a 7-bit line.
  void ExpectAgreed(std::size_t largest) {
    const ExtCase& c = GetParam();
    if (c.classic) {
      EXPECT_EQ(agreed.sendLong, 0u);
      EXPECT_EQ(agreed.recvLong, 0u);
      EXPECT_EQ(agreed.rept, 0);
      // ckermit fills LEN up to 95 with type 3 checks: MARK, LEN and 95 characters.
      EXPECT_LE(largest, 97u);
    } else {
      EXPECT_GT(agreed.sendLong, 94u);
      EXPECT_EQ(agreed.recvLong, 9024u);
      EXPECT_GE(largest, c.longestAtLeast);
    }
    EXPECT_EQ(agreed.qbin, c.sevenBit ? '&' : 0);
  }

  std::string src, dst;
  std::vector<std::string> names;
  SocatPair line;
  Agreed agreed;
};

std::string CaseName(const ::testing::TestParamInfo<ExtCase>& info) {
  return info.param.name;
}

}  // namespace

TEST_P(KermitExtendedPeer, OursSendsToPeer) {
  const ExtCase& c = GetParam();
  KermitSide ours(line.A(), kPort);
  Configure(ours);
  ours.kermit.SetCrc(c.crc);
  auto peer = KermitPeer::Receive(c.program, line.B(), dst, kPeerLimitSec, PeerSettings());
  ours.kermit.SendFiles(src + "/*");
  EXPECT_TRUE(peer->Wait(kPeerLimitSec * 1000));
  EXPECT_EQ(peer->ExitCode(), 0) << peer->Output();
  EXPECT_TRUE(WaitUntil([&] { return ours.kermit.State() == fsListen; }, 5000));
  EXPECT_TRUE(ours.fatal.empty()) << ours.fatal.front();
  ExpectSameFiles();
  ours.ExpectNoRepeats();
  ExpectAgreed(ours.kermit.LargestPacketSent());
  if (!c.classic) {
    // Both peers take the repeat prefix our side proposes.
    EXPECT_EQ(agreed.rept, '~');
    EXPECT_LE(ours.kermit.LargestPacketSent(), agreed.sendLong + 3);
  }
}

TEST_P(KermitExtendedPeer, PeerSendsToOurs) {
  const ExtCase& c = GetParam();
  KermitSide ours(line.A(), kPort);
  Configure(ours);
  ours.kermit.SetDefaultPath(dst);
  std::vector<TvxTransferState> states;
  ours.kermit.OnChangeState = [&](TObject*) { states.push_back(ours.kermit.State()); };
  std::string settings = PeerSettings();
  if (c.program == KermitPeer::CKermit)
    settings = "set block-check " + std::to_string(static_cast<int>(c.crc) + 1) +
               (settings.empty() ? "" : ", " + settings);
  auto peer =
      KermitPeer::Send(c.program, line.B(), PathsIn(src, names), src, kPeerLimitSec, settings);
  EXPECT_TRUE(peer->Wait(kPeerLimitSec * 1000));
  EXPECT_EQ(peer->ExitCode(), 0) << peer->Output();
  EXPECT_TRUE(WaitUntil([&] { return ours.kermit.State() == fsListen; }, 5000));
  EXPECT_EQ(states, (std::vector<TvxTransferState>{fsReceive, fsListen}));
  EXPECT_TRUE(ours.fatal.empty()) << ours.fatal.front();
  ExpectSameFiles();
  ours.ExpectNoRepeats();
  ExpectAgreed(ours.kermit.LargestPacketReceived());
  if (c.program == KermitPeer::CKermit && !c.classic) {
    EXPECT_EQ(ours.kermit.CheckIndex(), static_cast<int>(c.crc));
  }
  // Both peers propose repeat counts with "~" by default.
  if (!c.classic) {
    EXPECT_EQ(agreed.rept, '~');
  }
}

INSTANTIATE_TEST_SUITE_P(
    Peers, KermitExtendedPeer,
    ::testing::Values(
        ExtCase{"ckermit_defaults_type1", KermitPeer::CKermit, crc6bit, "", false, false, 2000},
        ExtCase{"ckermit_defaults_type2", KermitPeer::CKermit, crc12bit, "", false, false, 2000},
        ExtCase{"ckermit_defaults_type3", KermitPeer::CKermit, crc16bit, "", false, false, 2000},
        ExtCase{"ckermit_9024", KermitPeer::CKermit, crc16bit,
                "set send packet-length 9024, set receive packet-length 9024", false, false, 8000},
        ExtCase{"ckermit_repeat_counts", KermitPeer::CKermit, crc16bit, "set repeat counts on",
                false, false, 2000},
        ExtCase{"ckermit_ours_classic", KermitPeer::CKermit, crc16bit, "", true, false, 0},
        ExtCase{"ckermit_7e1", KermitPeer::CKermit, crc16bit, "", false, true, 2000},
        ExtCase{"gkermit_defaults", KermitPeer::GKermit, crc16bit, "", false, false, 1000},
        ExtCase{"gkermit_ours_classic", KermitPeer::GKermit, crc16bit, "", true, false, 0}),
    CaseName);
