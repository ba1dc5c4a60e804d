// TvxKermit against the standard Kermit programs over a linked pty pair: each direction,
// each block check, the standard file set; skip, abort, remote errors and the error limit.
#include <gtest/gtest.h>

#include <memory>

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

struct PeerCase {
  KermitPeer::Program program;
  TvxKermitCrc crc;
};

std::string CaseName(const ::testing::TestParamInfo<PeerCase>& info) {
  return std::string(KermitPeer::Name(info.param.program)) + "_type" +
         std::to_string(static_cast<int>(info.param.crc) + 1);
}

class KermitPeerTransfer : public ::testing::TestWithParam<PeerCase> {
 protected:
  void SetUp() override {
    src = MakeTempDir("peer-src");
    dst = MakeTempDir("peer-dst");
    names = WriteStandardSet(src, 1024 * 1024);
  }
  void ExpectSameFiles() {
    for (const auto& n : names) {
      ASSERT_TRUE(Exists(dst + "/" + n)) << n;
      EXPECT_TRUE(ReadAll(dst + "/" + n) == ReadAll(src + "/" + n)) << n;
    }
  }
  std::string src, dst;
  std::vector<std::string> names;
  SocatPair line;
};

}  // namespace

TEST_P(KermitPeerTransfer, OursSendsToPeer) {
  KermitSide ours(line.A(), 70);
  auto peer = KermitPeer::Receive(GetParam().program, line.B(), dst, kPeerLimitSec);
  ours.kermit.SetCrc(GetParam().crc);
  ours.kermit.SendFiles(src + "/*");
  EXPECT_TRUE(peer->Wait(kPeerLimitSec * 1000));
  EXPECT_EQ(peer->ExitCode(), 0) << peer->Output();
  EXPECT_TRUE(WaitUntil([&] { return ours.kermit.State() == fsListen; }, 5000));
  EXPECT_TRUE(ours.fatal.empty());
  // gkermit does not do type 2 and answers with type 1.
  const bool downgraded = GetParam().program == KermitPeer::GKermit && GetParam().crc == crc12bit;
  EXPECT_EQ(ours.kermit.CheckIndex(), downgraded ? 0 : static_cast<int>(GetParam().crc));
  ExpectSameFiles();
}

// gkermit has no block-check setting: it sends once, with its own choice.
class KermitPeerSends : public KermitPeerTransfer {};

TEST_P(KermitPeerSends, PeerSendsToOurs) {
  KermitSide ours(line.A(), 70);
  ours.kermit.SetDefaultPath(dst);
  std::vector<TvxTransferState> states;
  ours.kermit.OnChangeState = [&](TObject*) { states.push_back(ours.kermit.State()); };
  const std::string check =
      "set block-check " + std::to_string(static_cast<int>(GetParam().crc) + 1);
  auto peer =
      KermitPeer::Send(GetParam().program, line.B(), PathsIn(src, names), src, kPeerLimitSec,
                       GetParam().program == KermitPeer::CKermit ? check : "");
  EXPECT_TRUE(peer->Wait(kPeerLimitSec * 1000));
  EXPECT_EQ(peer->ExitCode(), 0) << peer->Output();
  EXPECT_TRUE(WaitUntil([&] { return ours.kermit.State() == fsListen; }, 5000));
  EXPECT_EQ(states, (std::vector<TvxTransferState>{fsReceive, fsListen}));
  EXPECT_TRUE(ours.fatal.empty());
  if (GetParam().program == KermitPeer::CKermit) {
    EXPECT_EQ(ours.kermit.CheckIndex(), static_cast<int>(GetParam().crc));
  }
  ExpectSameFiles();
}

INSTANTIATE_TEST_SUITE_P(Peers, KermitPeerTransfer,
                         ::testing::Values(PeerCase{KermitPeer::CKermit, crc6bit},
                                           PeerCase{KermitPeer::CKermit, crc12bit},
                                           PeerCase{KermitPeer::CKermit, crc16bit},
                                           PeerCase{KermitPeer::GKermit, crc6bit},
                                           PeerCase{KermitPeer::GKermit, crc12bit},
                                           PeerCase{KermitPeer::GKermit, crc16bit}),
                         CaseName);

INSTANTIATE_TEST_SUITE_P(Peers, KermitPeerSends,
                         ::testing::Values(PeerCase{KermitPeer::CKermit, crc6bit},
                                           PeerCase{KermitPeer::CKermit, crc12bit},
                                           PeerCase{KermitPeer::CKermit, crc16bit},
                                           PeerCase{KermitPeer::GKermit, crc16bit}),
                         CaseName);
