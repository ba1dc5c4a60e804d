// Kermit over network ports: TvxKermit on an rfc2217:// (and a tcp://) port of ser2net, ckermit
// on the pseudo-terminal behind the server. Whichever way the files go, each file reported
// received is byte-identical to the one sent, and the transfer ends without a fatal error.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "support/kermitfiles.h"
#include "support/kermitpeer.h"
#include "support/kermitside.h"
#include "support/ptypair.h"
#include "support/ser2net.h"
#include "support/socatpair.h"
#include "vxcomm/unqualified.h"
#include "vxcomm/vxkermit.h"

using namespace kermitfiles;

namespace {

constexpr int kPeerLimitSec = 120;
constexpr std::size_t kRandomSize = 256 * 1024;

// The URL of the accepter a test runs over.
enum class Accepter { Telnet, Telnet6, Raw };

std::string AccepterName(const ::testing::TestParamInfo<Accepter>& info) {
  return info.param == Accepter::Telnet    ? "rfc2217"
         : info.param == Accepter::Telnet6 ? "rfc2217_ipv6"
                                           : "tcp";
}

// ser2net serving socat end B; ckermit takes end A; the standard file set in Src.
class KermitOverNetwork : public ::testing::TestWithParam<Accepter> {
 protected:
  void SetUp() override {
    dir_ = MakeTempDir("netkermit");
    src_ = MakeTempDir("netkermit-src");
    dst_ = MakeTempDir("netkermit-dst");
    // The device at the speed the Kermit side sets: the raw accepter leaves it as it starts.
    names_ = WriteStandardSet(src_, kRandomSize);
    pair_ = std::make_unique<SocatPair>(dir_);
    server_ = std::make_unique<Ser2Net>(dir_, pair_->B(), "115200n81");
  }
  std::string Url() const {
    switch (GetParam()) {
      case Accepter::Telnet:
        return server_->TelnetUrl();
      case Accepter::Telnet6:
        return server_->Telnet6Url();
      case Accepter::Raw:
        break;
    }
    return server_->RawUrl();
  }
  void ExpectSameFiles() {
    for (const auto& n : names_) {
      ASSERT_TRUE(Exists(dst_ + "/" + n)) << n;
      EXPECT_TRUE(ReadAll(dst_ + "/" + n) == ReadAll(src_ + "/" + n)) << n;
    }
  }

  std::string dir_, src_, dst_;
  std::vector<std::string> names_;
  std::unique_ptr<SocatPair> pair_;
  std::unique_ptr<Ser2Net> server_;
};

TEST_P(KermitOverNetwork, OursSendsToCKermit) {
  KermitSide ours(Url(), 72);
  ASSERT_TRUE(ours.comm.Active());
  auto peer = KermitPeer::Receive(KermitPeer::CKermit, pair_->A(), dst_, kPeerLimitSec);
  ours.kermit.SetCrc(crc16bit);
  ours.kermit.SendFiles(src_ + "/*");
  EXPECT_TRUE(peer->Wait(kPeerLimitSec * 1000));
  EXPECT_EQ(peer->ExitCode(), 0) << peer->Output();
  EXPECT_TRUE(WaitUntil([&] { return ours.kermit.State() == fsListen; }, 5000));
  EXPECT_TRUE(ours.fatal.empty()) << ours.fatal.front();
  ExpectSameFiles();
}

TEST_P(KermitOverNetwork, CKermitSendsToOurs) {
  KermitSide ours(Url(), 73);
  ASSERT_TRUE(ours.comm.Active());
  ours.kermit.SetDefaultPath(dst_);
  std::vector<TvxTransferState> states;
  ours.kermit.OnChangeState = [&](TObject*) { states.push_back(ours.kermit.State()); };
  auto peer = KermitPeer::Send(KermitPeer::CKermit, pair_->A(), PathsIn(src_, names_), src_,
                               kPeerLimitSec, "set block-check 3");
  EXPECT_TRUE(peer->Wait(kPeerLimitSec * 1000));
  EXPECT_EQ(peer->ExitCode(), 0) << peer->Output();
  EXPECT_TRUE(WaitUntil([&] { return ours.kermit.State() == fsListen; }, 5000));
  EXPECT_EQ(states, (std::vector<TvxTransferState>{fsReceive, fsListen}));
  EXPECT_TRUE(ours.fatal.empty()) << ours.fatal.front();
  ExpectSameFiles();
}

INSTANTIATE_TEST_SUITE_P(Ser2Net, KermitOverNetwork,
                         ::testing::Values(Accepter::Telnet, Accepter::Telnet6, Accepter::Raw),
                         AccepterName);

}  // namespace
