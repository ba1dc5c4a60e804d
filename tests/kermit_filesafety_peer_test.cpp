// Where received files go, against ckermit and gkermit over a linked pty pair, each on its
// own defaults as well as on the fixtures' settings: links in our directory refuse that one
// file and the session goes on; a peer keeps what it holds by its own collision policy when
// ours sends; a peer that refuses a file has it skipped; a full disk ends the session.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <ctime>
#include <memory>

#include "support/kermitfiles.h"
#include "support/kermitpeer.h"
#include "support/kermitside.h"
#include "support/ptypair.h"
#include "support/smalldisk.h"
#include "support/socatpair.h"
#include "vxcomm/unqualified.h"
#include "vxcomm/vxkermit.h"

using namespace kermitfiles;

namespace {

constexpr int kPeerLimitSec = 60;
constexpr int kPort = 74;

struct PeerCase {
  KermitPeer::Program program;
  bool defaults;  // the peer's own defaults, or the fixtures' settings
};

std::string CaseName(const ::testing::TestParamInfo<PeerCase>& info) {
  return std::string(KermitPeer::Name(info.param.program)) +
         (info.param.defaults ? "_defaults" : "_settings");
}

// What the regular files of Dir hold, whatever their names (a peer may change a name's case,
// or keep a version of it); links are not followed.
std::vector<std::string> Contents(const std::string& dir) {
  std::vector<std::string> all;
  for (const std::string& n : EntriesOf(dir)) {
    struct stat st {};
    if (::lstat((dir + "/" + n).c_str(), &st) == 0 && S_ISREG(st.st_mode))
      all.push_back(ReadAll(dir + "/" + n));
  }
  std::sort(all.begin(), all.end());
  return all;
}

class FileSafetyPeer : public ::testing::TestWithParam<PeerCase> {
 protected:
  void SetUp() override {
    src = MakeTempDir("fsp-src");
    dst = MakeTempDir("fsp-dst");
    outside = MakeTempDir("fsp-outside");
  }
  std::unique_ptr<KermitPeer> PeerSends(const std::vector<std::string>& names) {
    const std::vector<std::string> paths = PathsIn(src, names);
    if (GetParam().defaults)
      return KermitPeer::SendWithDefaults(GetParam().program, line.B(), paths, src, kPeerLimitSec);
    return KermitPeer::Send(GetParam().program, line.B(), paths, src, kPeerLimitSec);
  }
  std::unique_ptr<KermitPeer> PeerReceives() {
    if (GetParam().defaults)
      return KermitPeer::ReceiveWithDefaults(GetParam().program, line.B(), dst, kPeerLimitSec);
    return KermitPeer::Receive(GetParam().program, line.B(), dst, kPeerLimitSec);
  }
  std::string src, dst, outside;
  SocatPair line;
};

}  // namespace

// Text without a line end and with lower-case names: what arrives is the same in text and
// binary mode, and a peer that sends names in upper case meets a link of that spelling too.
TEST_P(FileSafetyPeer, LinksInOurDirectoryRefuseThatFileAndTheSessionGoesOn) {
  KermitSide ours(line.A(), kPort);
  ours.kermit.SetDefaultPath(dst);
  ours.kermit.SetFileCollision(fcBackup);
  std::vector<std::string> refusals;
  ours.kermit.OnFileEnd = [&](TObject*) {
    if (!ours.kermit.FileRefusal().empty()) refusals.push_back(ours.kermit.FileRefusal());
  };
  WriteAll(src + "/link.txt", "sent to a link");
  WriteAll(src + "/dangling.txt", "sent to a dangling link");
  WriteAll(src + "/after.txt", "the file after them");
  WriteAll(outside + "/target.txt", "outside");
  for (const char* name : {"link.txt", "LINK.TXT"})
    ASSERT_EQ(::symlink((outside + "/target.txt").c_str(), (dst + "/" + std::string(name)).c_str()),
              0);
  for (const char* name : {"dangling.txt", "DANGLING.TXT"})
    ASSERT_EQ(::symlink((outside + "/none.txt").c_str(), (dst + "/" + std::string(name)).c_str()),
              0);
  auto peer = PeerSends({"link.txt", "dangling.txt", "after.txt"});
  EXPECT_TRUE(peer->Wait(kPeerLimitSec * 1000));
  EXPECT_TRUE(WaitUntil([&] { return ours.kermit.State() == fsListen; }, 5000));
  EXPECT_TRUE(ours.fatal.empty()) << ours.fatal.front();
  EXPECT_EQ(EntriesOf(outside), (std::vector<std::string>{"target.txt"}));
  EXPECT_EQ(ReadAll(outside + "/target.txt"), "outside");
  // The links as they were, and the file after them received.
  const std::vector<std::string> entries = EntriesOf(dst);
  ASSERT_EQ(entries.size(), 5u);
  EXPECT_EQ(Contents(dst), (std::vector<std::string>{"the file after them"}));
  EXPECT_EQ(refusals.size(), 2u);
  for (const std::string& r : refusals) EXPECT_NE(r.find("is a symbolic link"), std::string::npos);
  std::printf("%s exit %d\n", KermitPeer::Name(GetParam().program), peer->ExitCode());
}

// Our sender to a peer that holds a file of the same name: whatever the peer's policy, both
// the old and the new file are still there, and our session ends well.
TEST_P(FileSafetyPeer, APeerWithAnOldFileKeepsOneOfEach) {
  KermitSide ours(line.A(), kPort);
  WriteAll(src + "/same.bin", RandomBytes(30000, 1));
  WriteAll(dst + "/same.bin", "old");
  auto peer = PeerReceives();
  ours.kermit.SendFiles(src + "/same.bin");
  EXPECT_TRUE(peer->Wait(kPeerLimitSec * 1000));
  EXPECT_EQ(peer->ExitCode(), 0) << peer->Output();
  EXPECT_TRUE(WaitUntil([&] { return ours.kermit.State() == fsListen; }, 5000));
  EXPECT_TRUE(ours.fatal.empty()) << ours.fatal.front();
  const std::vector<std::string> held = Contents(dst);
  std::printf("%s keeps:", KermitPeer::Name(GetParam().program));
  for (const std::string& e : EntriesOf(dst)) std::printf(" %s", e.c_str());
  std::printf("\n");
  if (GetParam().defaults) {
    EXPECT_NE(std::find(held.begin(), held.end(), "old"), held.end());
    EXPECT_NE(std::find(held.begin(), held.end(), ReadAll(src + "/same.bin")), held.end());
  }
}

INSTANTIATE_TEST_SUITE_P(Peers, FileSafetyPeer,
                         ::testing::Values(PeerCase{KermitPeer::CKermit, true},
                                           PeerCase{KermitPeer::CKermit, false},
                                           PeerCase{KermitPeer::GKermit, true},
                                           PeerCase{KermitPeer::GKermit, false}),
                         CaseName);

// ckermit refusing a file: our sender skips it, and the next one crosses.
TEST(FileSafetyCKermit, AFileTheReceiverRefusesIsSkipped) {
  SocatPair line;
  const std::string src = MakeTempDir("fsp-src"), dst = MakeTempDir("fsp-dst");
  KermitSide ours(line.A(), kPort);
  WriteAll(src + "/a.bin", RandomBytes(20000, 2));
  WriteAll(src + "/b.bin", RandomBytes(20000, 3));
  WriteAll(dst + "/a.bin", "old");
  auto peer = KermitPeer::Receive(KermitPeer::CKermit, line.B(), dst, kPeerLimitSec,
                                  "set file collision discard");
  ours.kermit.SendFiles(src + "/a.bin;" + src + "/b.bin");
  EXPECT_TRUE(peer->Wait(kPeerLimitSec * 1000));
  EXPECT_TRUE(WaitUntil([&] { return ours.kermit.State() == fsListen; }, 5000));
  EXPECT_TRUE(ours.fatal.empty()) << ours.fatal.front();
  EXPECT_TRUE(ours.log.Has("vxKermit: The receiver refuses " + src + "/a.bin."));
  EXPECT_EQ(ReadAll(dst + "/a.bin"), "old");
  EXPECT_TRUE(ReadAll(dst + "/b.bin") == ReadAll(src + "/b.bin"));
  std::printf("ckermit exit %d\n", peer->ExitCode());
}

// A full disk on our side: the peer is told why and ends in failure; nothing is left.
TEST(FileSafetyCKermit, AFullDiskEndsThePeersSessionInFailure) {
  SocatPair line;
  const std::string src = MakeTempDir("fsp-src");
  WriteAll(src + "/big.bin", RandomBytes(1024 * 1024, 4));
  const SmallDisk disk(64 * 1024);
  KermitSide ours(line.A(), kPort);
  ours.kermit.SetDefaultPath(disk.Path());
  auto peer =
      KermitPeer::Send(KermitPeer::CKermit, line.B(), {src + "/big.bin"}, src, kPeerLimitSec);
  EXPECT_TRUE(peer->Wait(kPeerLimitSec * 1000));
  EXPECT_NE(peer->ExitCode(), 0) << peer->Output();
  EXPECT_TRUE(WaitUntil([&] { return ours.kermit.State() == fsListen; }, 5000));
  ASSERT_FALSE(ours.fatal.empty());
  EXPECT_NE(ours.fatal.front().find(disk.Reason()), std::string::npos) << ours.fatal.front();
  EXPECT_TRUE(EntriesOf(disk.Path()).empty());
}

// ckermit dates what it sends: an update takes its file over an older one only.
TEST(FileSafetyCKermit, AnUpdateTakesOnlyANewerFile) {
  const std::string src = MakeTempDir("fsp-src");
  WriteAll(src + "/doc.bin", RandomBytes(10000, 5));
  for (const bool olderHere : {true, false}) {
    SCOPED_TRACE(olderHere ? "older here" : "newer here");
    SocatPair line;
    const std::string dst = MakeTempDir("fsp-dst");
    WriteAll(dst + "/doc.bin", "here");
    const std::time_t when = olderHere ? 1'000'000'000 : std::time(nullptr) + 100000;
    const struct timespec times[2] = {{when, 0}, {when, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (dst + "/doc.bin").c_str(), times, 0), 0);
    KermitSide ours(line.A(), kPort);
    ours.kermit.SetDefaultPath(dst);
    ours.kermit.SetFileCollision(fcUpdate);
    auto peer =
        KermitPeer::Send(KermitPeer::CKermit, line.B(), {src + "/doc.bin"}, src, kPeerLimitSec);
    EXPECT_TRUE(peer->Wait(kPeerLimitSec * 1000));
    EXPECT_EQ(peer->ExitCode(), 0) << peer->Output();
    EXPECT_TRUE(WaitUntil([&] { return ours.kermit.State() == fsListen; }, 5000));
    EXPECT_TRUE(ours.fatal.empty()) << ours.fatal.front();
    EXPECT_EQ(EntriesOf(dst), (std::vector<std::string>{"doc.bin"}));
    EXPECT_TRUE(ReadAll(dst + "/doc.bin") == (olderHere ? ReadAll(src + "/doc.bin") : "here"));
    EXPECT_EQ(ours.kermit.FileRefusal().empty(), olderHere);
  }
}
