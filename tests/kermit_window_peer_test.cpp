// TvxKermit with sliding windows against the standard Kermit programs over a linked pty
// pair through the real TvxComm: ckermit with "set window 31" and 9024-byte packets in both
// directions with each block check, ckermit with its defaults, gkermit with its defaults (no
// windows: the classic exchange), and our side offering no window against ckermit's 31. Every
// file must arrive byte-identical; the window both sides agreed is checked, and our side's
// record (sending) or ckermit's packet log (receiving) shows whether several packets were
// really in flight. On this clean line nothing is sent twice and no wait runs out, also when
// the test runs a second time beside a load on every core.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <memory>
#include <sstream>
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

constexpr int kPeerLimitSec = 120;
constexpr int kPort = 138;

struct WinCase {
  const char* name;
  KermitPeer::Program program;
  TvxKermitCrc crc;          // the block check of the session
  const char* peerSettings;  // ckermit settings, for both directions
  int ourWindow;             // what our side offers
  int agreed;                // the window that must be agreed; 0: any window above 1
};

class KermitWindowPeer : public ::testing::TestWithParam<WinCase> {
 protected:
  void SetUp() override {
    src = MakeTempDir("wpeer-src");
    dst = MakeTempDir("wpeer-dst");
    logDir = MakeTempDir("wpeer-log");
    names = WriteStandardSet(src, 2 * 1024 * 1024 + 17);
  }

  void Configure(KermitSide& ours) {
    ours.kermit.SetLongPackets(true);
    ours.kermit.SetRepeatCounts(true);
    ours.kermit.SetAdaptiveTimeout(true);
    ours.kermit.SetWindowSize(GetParam().ourWindow);
    ours.kermit.OnFileStart = [this, &ours](TObject*) {
      agreed = ours.kermit.WindowAgreed();
      ours.NoteFileStart();
    };
  }

  std::string PeerSettings() const {
    const WinCase& c = GetParam();
    std::string s = "log packets " + logDir + "/packets.log";
    if (c.program == KermitPeer::CKermit)
      s += ", set block-check " + std::to_string(static_cast<int>(c.crc) + 1);
    if (*c.peerSettings) s += std::string(", ") + c.peerSettings;
    return s;
  }

  // Both sides ended well, every file arrived whole and the window agreed is the case's.
  void ExpectSessionEndedWell(KermitPeer& peer, KermitSide& ours) {
    EXPECT_TRUE(peer.Wait(kPeerLimitSec * 1000));
    EXPECT_EQ(peer.ExitCode(), 0) << peer.Output();
    EXPECT_TRUE(WaitUntil([&] { return ours.kermit.State() == fsListen; }, 5000));
    EXPECT_TRUE(ours.fatal.empty()) << ours.fatal.front();
    ExpectSameFiles();
    ExpectAgreed();
    ours.ExpectNoRepeats();
  }

  void ExpectSameFiles() {
    for (const auto& n : names) {
      ASSERT_TRUE(Exists(dst + "/" + n)) << n;
      EXPECT_TRUE(ReadAll(dst + "/" + n) == ReadAll(src + "/" + n)) << n;
    }
  }

  void ExpectAgreed() {
    const WinCase& c = GetParam();
    if (c.agreed > 0)
      EXPECT_EQ(agreed, c.agreed);
    else
      EXPECT_GT(agreed, 1);
  }

  // From ckermit's packet log: the longest run of packets it sent (Sent) or received (not
  // Sent) with no packet the other way in between. Lines start with "s-" or "r-". A sender
  // with a window sends several packets before it reads an answer.
  int LongestRun(bool sent) const {
    std::ifstream log(logDir + "/packets.log");
    int run = 0, best = 0;
    for (std::string line; std::getline(log, line);) {
      if (line.size() < 2 || line[1] != '-' || (line[0] != 's' && line[0] != 'r')) continue;
      if ((line[0] == 's') == sent) {
        best = std::max(best, ++run);
      } else {
        run = 0;
      }
    }
    return best;
  }

  std::string src, dst, logDir;
  std::vector<std::string> names;
  SocatPair line;
  int agreed = 0;
};

std::string CaseName(const ::testing::TestParamInfo<WinCase>& info) {
  return info.param.name;
}

}  // namespace

TEST_P(KermitWindowPeer, OursSendsToPeer) {
  const WinCase& c = GetParam();
  KermitSide ours(line.A(), kPort);
  Configure(ours);
  ours.kermit.SetCrc(c.crc);
  auto peer = KermitPeer::Receive(c.program, line.B(), dst, kPeerLimitSec,
                                  c.program == KermitPeer::CKermit ? PeerSettings() : "");
  ours.kermit.SendFiles(src + "/*");
  ExpectSessionEndedWell(*peer, ours);
  // With a window several packets were in flight at once; without, never more than one.
  if (agreed > 1) {
    EXPECT_GT(ours.kermit.WindowPeak(), 1);
  } else {
    EXPECT_EQ(ours.kermit.WindowPeak(), 0);
  }
}

TEST_P(KermitWindowPeer, PeerSendsToOurs) {
  const WinCase& c = GetParam();
  KermitSide ours(line.A(), kPort);
  Configure(ours);
  ours.kermit.SetDefaultPath(dst);
  auto peer = KermitPeer::Send(c.program, line.B(), PathsIn(src, names), src, kPeerLimitSec,
                               c.program == KermitPeer::CKermit ? PeerSettings() : "");
  ExpectSessionEndedWell(*peer, ours);
  if (c.program == KermitPeer::CKermit) {
    EXPECT_EQ(ours.kermit.CheckIndex(), static_cast<int>(c.crc));
    if (agreed > 1) {
      EXPECT_GT(LongestRun(true), 1);
    } else {
      EXPECT_EQ(LongestRun(true), 1);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Peers, KermitWindowPeer,
    ::testing::Values(
        WinCase{"ckermit_w31_9024_type1", KermitPeer::CKermit, crc6bit,
                "set window 31, set send packet-length 9024, set receive packet-length 9024", 31,
                31},
        WinCase{"ckermit_w31_9024_type2", KermitPeer::CKermit, crc12bit,
                "set window 31, set send packet-length 9024, set receive packet-length 9024", 31,
                31},
        WinCase{"ckermit_w31_9024_type3", KermitPeer::CKermit, crc16bit,
                "set window 31, set send packet-length 9024, set receive packet-length 9024", 31,
                31},
        WinCase{"ckermit_defaults", KermitPeer::CKermit, crc16bit, "", 31, 0},
        WinCase{"ckermit_w31_ours_w1", KermitPeer::CKermit, crc16bit, "set window 31", 1, 1},
        WinCase{"gkermit_defaults", KermitPeer::GKermit, crc16bit, "", 31, 1}),
    CaseName);
