// Skip, abort, remote errors and the error limit between TvxKermit and a standard Kermit
// program over a linked pty pair, with what each leaves on disk.
#include <gtest/gtest.h>

#include <QDir>
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

constexpr int kPeerLimitSec = 20;

class KermitPeerControl : public ::testing::Test {
 protected:
  void SetUp() override {
    src = MakeTempDir("ctl-src");
    dst = MakeTempDir("ctl-dst");
    WriteAll(src + "/big.bin", RandomBytes(200 * 1024, 21));
    WriteAll(src + "/small.txt", Text());
  }
  // Whether Dst's Name holds the start of Src's Sent (by default the same name).
  bool IsPrefixOfSource(const std::string& name, std::string sent = {}) {
    if (sent.empty()) sent = name;
    const std::string got = ReadAll(dst + "/" + name);
    return got.size() < ReadAll(src + "/" + sent).size() &&
           ReadAll(src + "/" + sent).rfind(got, 0) == 0;
  }

  std::string src, dst;
  SocatPair line;
};

}  // namespace

TEST_F(KermitPeerControl, OurReceiverSkipsOneFileThenTakesTheNext) {
  KermitSide ours(line.A(), 71);
  ours.kermit.SetDefaultPath(dst);
  bool asked = false;
  ours.kermit.OnProgress = [&](TObject*) {
    if (!asked && ours.kermit.FileName().find("big.bin") != std::string::npos) {
      asked = true;
      ours.kermit.SkipFile(false, true);
    }
  };
  auto peer = KermitPeer::Send(KermitPeer::CKermit, line.B(),
                               {src + "/big.bin", src + "/small.txt"}, src, kPeerLimitSec);
  EXPECT_TRUE(peer->Wait(kPeerLimitSec * 1000));
  EXPECT_TRUE(WaitUntil([&] { return ours.kermit.State() == fsListen; }, 3000));
  EXPECT_FALSE(Exists(dst + "/big.bin")) << "the sender asked us to discard it";
  EXPECT_EQ(ReadAll(dst + "/small.txt"), ReadAll(src + "/small.txt"));
  EXPECT_TRUE(ours.HasEntry("vxKermit: File transfer is skipped. File Group: 0. Deletion: 1"));
}

TEST_F(KermitPeerControl, OurReceiverSkipsAll) {
  KermitSide ours(line.A(), 71);
  ours.kermit.SetDefaultPath(dst);
  bool asked = false;
  ours.kermit.OnProgress = [&](TObject*) {
    if (!asked) {
      asked = true;
      ours.kermit.SkipFile(true, true);
    }
  };
  auto peer = KermitPeer::Send(KermitPeer::CKermit, line.B(),
                               {src + "/big.bin", src + "/small.txt"}, src, kPeerLimitSec);
  EXPECT_TRUE(peer->Wait(kPeerLimitSec * 1000));
  EXPECT_TRUE(WaitUntil([&] { return ours.kermit.State() == fsListen; }, 3000));
  EXPECT_FALSE(Exists(dst + "/big.bin"));
  EXPECT_FALSE(Exists(dst + "/small.txt"));
  EXPECT_TRUE(ours.HasEntry("vxKermit: BREAK [B] Close Session Packet! "));
}

TEST_F(KermitPeerControl, OurSenderSkipsOneFile) {
  KermitSide ours(line.A(), 71);
  auto peer = KermitPeer::Receive(KermitPeer::CKermit, line.B(), dst, kPeerLimitSec);
  int progress = 0;
  ours.kermit.OnProgress = [&](TObject*) {
    if (++progress == 20) ours.kermit.SkipFile(false, false);
  };
  ours.kermit.SendFiles(src + "/big.bin;" + src + "/small.txt");
  EXPECT_TRUE(peer->Wait(kPeerLimitSec * 1000));
  EXPECT_TRUE(WaitUntil([&] { return ours.kermit.State() == fsListen; }, 3000));
  EXPECT_EQ(ReadAll(dst + "/small.txt"), ReadAll(src + "/small.txt"));
  // The peer was told the file ended: what it kept, if anything, is the start of the file.
  if (Exists(dst + "/big.bin")) {
    EXPECT_TRUE(IsPrefixOfSource("big.bin"));
  }
  EXPECT_TRUE(ours.fatal.empty());
}

TEST_F(KermitPeerControl, OurSenderAborts) {
  KermitSide ours(line.A(), 71);
  auto peer = KermitPeer::Receive(KermitPeer::CKermit, line.B(), dst, kPeerLimitSec);
  int progress = 0;
  ours.kermit.OnProgress = [&](TObject*) {
    if (++progress == 20) ours.kermit.Abort();
  };
  ours.kermit.SendFiles(src + "/big.bin");
  EXPECT_TRUE(peer->Wait(kPeerLimitSec * 1000));
  EXPECT_NE(peer->ExitCode(), 0) << "the peer learns the transfer failed";
  EXPECT_NE(peer->ExitCode(), -1) << "and ends by itself";
  EXPECT_EQ(ours.kermit.State(), fsListen);
  EXPECT_TRUE(ours.HasEntry("vxKermit: Transfer aborted. "));
  EXPECT_EQ(ours.kermit.FileName(), "");
}

TEST_F(KermitPeerControl, OurReceiverAbortsAndKeepsThePart) {
  KermitSide ours(line.A(), 71);
  ours.kermit.SetDefaultPath(dst);
  int progress = 0;
  ours.kermit.OnProgress = [&](TObject*) {
    if (++progress == 20) ours.kermit.Abort();
  };
  auto peer =
      KermitPeer::Send(KermitPeer::CKermit, line.B(), {src + "/big.bin"}, src, kPeerLimitSec);
  EXPECT_TRUE(peer->Wait(kPeerLimitSec * 1000));
  EXPECT_NE(peer->ExitCode(), 0);
  EXPECT_NE(peer->ExitCode(), -1);
  EXPECT_EQ(ours.kermit.State(), fsListen);
  // Kept, hidden: never under the name of a finished file.
  EXPECT_FALSE(Exists(dst + "/big.bin"));
  ASSERT_TRUE(Exists(dst + "/.big.bin.vxpart"));
  EXPECT_TRUE(IsPrefixOfSource(".big.bin.vxpart", "big.bin"));
}

TEST_F(KermitPeerControl, RemoteErrorEndsOurSession) {
  KermitSide ours(line.A(), 71);
  // The peer cannot create the file: a directory of that name stands in its way.
  QDir().mkpath(QString::fromStdString(dst + "/small.txt"));
  auto peer = KermitPeer::Receive(KermitPeer::GKermit, line.B(), dst, kPeerLimitSec);
  ours.kermit.SendFiles(src + "/small.txt");
  EXPECT_TRUE(peer->Wait(kPeerLimitSec * 1000));
  EXPECT_TRUE(WaitUntil([&] { return ours.kermit.State() == fsListen; }, 3000));
  EXPECT_TRUE(ours.HasEntry("vxKermit: Transfer aborted. Remote end reports fatal error: "));
  EXPECT_EQ(ours.kermit.FileName(), "");
}

TEST_F(KermitPeerControl, ErrorLimitAgainstAPeerWeCannotHear) {
  KermitSide ours(line.A(), 71);
  ours.kermit.SetTimeout(300);
  // Mark parity sets the eighth bit of every byte the peer sends: we never see a packet.
  auto peer =
      KermitPeer::Receive(KermitPeer::CKermit, line.B(), dst, kPeerLimitSec, "set parity mark");
  ours.kermit.SendFiles(src + "/small.txt");
  EXPECT_TRUE(WaitUntil([&] { return ours.kermit.State() == fsListen; }, 10000));
  EXPECT_EQ(ours.fatal, (std::vector<std::string>{"Too many errors."}));
  EXPECT_TRUE(ours.HasEntry("vxKermit: Transfer aborted. Too many errors."));
  EXPECT_TRUE(ours.log.Has("Fatal Error: 17, 7, Too many errors."));
  EXPECT_EQ(ours.kermit.ErrorCount(), 4);
}
