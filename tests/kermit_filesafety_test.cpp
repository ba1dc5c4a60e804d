// Where received files go: the collision policy (its table, and each policy on real files),
// entries in the receiving directory that a file must never go through (symbolic links to a
// file, to a directory, dangling; directories), the temporary name a file has until it is
// complete, and a full disk. Two components back to back, or packets fed by hand.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <ctime>

#include "support/kermitfiles.h"
#include "support/kermitlink.h"
#include "support/kermitwire.h"
#include "support/ptypair.h"
#include "support/smalldisk.h"
#include "support/testlog.h"
#include "vxcomm/unqualified.h"
#include "vxcomm/vxftbase/collisionplan.h"
#include "vxcomm/vxkermit.h"

using namespace kermitfiles;
using kermitwire::Packet;
using vxftbase::PlanCollision;
using vxftbase::TCollisionStep;

namespace {

void SetModified(const std::string& path, std::time_t when) {
  const struct timespec times[2] = {{when, 0}, {when, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
}

std::string LinkTarget(const std::string& path) {
  char buf[4096];
  const ssize_t n = ::readlink(path.c_str(), buf, sizeof buf);
  return n < 0 ? std::string() : std::string(buf, static_cast<std::size_t>(n));
}

class FileSafety : public ::testing::Test {
 protected:
  void SetUp() override {
    src = MakeTempDir("safety-src");
    dst = MakeTempDir("safety-dst");
    outside = MakeTempDir("safety-outside");
    for (TvxKermit* k : {&sender, &receiver}) {
      k->SetActive(true);
      k->SetTimeout(400);
      k->SetFileDates(true);
      k->OnFatalError = [this](TObject*, Cardinal, Cardinal, const std::string& msg, bool& raise) {
        raise = false;
        fatal.push_back(msg);
      };
    }
    sender.SetLog(&sendLog);
    receiver.SetLog(&recvLog);
    receiver.SetDefaultPath(dst);
    receiver.OnFileEnd = [this](TObject*) {
      ended.push_back(receiver.FileRefusal().empty() ? receiver.FileName()
                                                     : "refused " + receiver.FileRefusal());
    };
  }

  // Sends Masks and waits for the session to end on both sides.
  void Send(const std::string& masks) {
    link.sentByA.clear();
    link.sentByB.clear();
    ended.clear();
    sendLog.ClearLog();
    recvLog.ClearLog();
    sender.SendFiles(masks);
    ASSERT_TRUE(link.WaitForSessionEnd(20000));
  }

  // Whether the receiver answered an A packet with Data.
  bool AnsweredAttributesWith(const std::string& data) const {
    const std::string types = KermitLink::Types(link.sentByA);
    for (std::size_t i = 0; i < types.size(); ++i)
      if (types[i] == 'A' && i < link.sentByB.size() &&
          link.sentByB[i] == Packet('Y', static_cast<unsigned>(i % 64), data, 0))
        return true;
    return false;
  }

  std::string src, dst, outside;
  TvxKermit sender, receiver;
  TvxTestLog sendLog, recvLog;
  KermitLink link{&sender, &receiver};
  std::vector<std::string> fatal, ended;
};

}  // namespace

TEST(CollisionPlan, EveryPolicyAgainstEveryKindOfEntry) {
  const TvxFileCollision all[] = {fcOverwrite, fcBackup, fcRename, fcDiscard, fcUpdate};
  for (TvxFileCollision policy : all) {
    SCOPED_TRACE(static_cast<int>(policy));
    EXPECT_EQ(PlanCollision(policy, ekNone, -1, -1).step, TCollisionStep::kStore);
    for (TvxEntryKind kind : {ekLink, ekDirectory, ekOther}) {
      const auto plan = PlanCollision(policy, kind, 100, 200);
      EXPECT_EQ(plan.step, TCollisionStep::kRefuse);
      EXPECT_EQ(plan.attribute, 0);
    }
  }
  EXPECT_EQ(PlanCollision(fcBackup, ekLink, 0, 0).why, "is a symbolic link");
  EXPECT_EQ(PlanCollision(fcOverwrite, ekFile, 100, -1).step, TCollisionStep::kReplace);
  EXPECT_EQ(PlanCollision(fcBackup, ekFile, 100, -1).step, TCollisionStep::kBackupOld);
  EXPECT_EQ(PlanCollision(fcRename, ekFile, 100, -1).step, TCollisionStep::kStoreAsVersion);
  EXPECT_EQ(PlanCollision(fcDiscard, ekFile, 100, 200).step, TCollisionStep::kRefuse);
  EXPECT_EQ(PlanCollision(fcDiscard, ekFile, 100, 200).attribute, 0);
  // An update takes only a file its sender dates newer.
  EXPECT_EQ(PlanCollision(fcUpdate, ekFile, 100, 101).step, TCollisionStep::kReplace);
  for (std::int64_t sent : {std::int64_t{100}, std::int64_t{99}, std::int64_t{-1}}) {
    const auto plan = PlanCollision(fcUpdate, ekFile, 100, sent);
    EXPECT_EQ(plan.step, TCollisionStep::kRefuse) << sent;
    EXPECT_EQ(plan.attribute, '#') << sent;
  }
  EXPECT_EQ(vxftbase::VersionName("a.bin", 3), "a.bin.~3~");
}

// An old a.bin in DIR, then a.bin and b.bin sent: what each policy leaves.
TEST_F(FileSafety, EachPolicyOnAFileOfTheSameName) {
  WriteAll(src + "/a.bin", RandomBytes(20000, 1));
  WriteAll(src + "/b.bin", RandomBytes(3000, 2));
  const std::string sent = ReadAll(src + "/a.bin");
  struct Case {
    TvxFileCollision policy;
    std::vector<std::string> entries;
    std::string a, version;  // what a.bin and a.bin.~1~ hold afterwards
  };
  const std::vector<Case> cases = {
      {fcOverwrite, {"a.bin", "b.bin"}, sent, ""},
      {fcBackup, {"a.bin", "a.bin.~1~", "b.bin"}, sent, "old"},
      {fcRename, {"a.bin", "a.bin.~1~", "b.bin"}, "old", sent},
      {fcDiscard, {"a.bin", "b.bin"}, "old", ""},
      // The old file dates from 2001, the one sent from now.
      {fcUpdate, {"a.bin", "b.bin"}, sent, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.policy));
    for (const std::string& e : EntriesOf(dst)) std::remove((dst + "/" + e).c_str());
    WriteAll(dst + "/a.bin", "old");
    SetModified(dst + "/a.bin", 1'000'000'000);
    receiver.SetFileCollision(c.policy);
    Send(src + "/a.bin;" + src + "/b.bin");
    EXPECT_TRUE(fatal.empty()) << fatal.front();
    EXPECT_EQ(EntriesOf(dst), c.entries) << "nothing else, no temporary file left";
    EXPECT_TRUE(ReadAll(dst + "/a.bin") == c.a);
    if (!c.version.empty()) {
      EXPECT_TRUE(ReadAll(dst + "/a.bin.~1~") == c.version);
    }
    EXPECT_TRUE(ReadAll(dst + "/b.bin") == ReadAll(src + "/b.bin"));
    // A refusal is the protocol's: "N" to the A packet, and the sender skips the file.
    const bool refused = c.policy == fcDiscard;
    EXPECT_EQ(AnsweredAttributesWith("N"), refused);
    EXPECT_EQ(sendLog.Has("vxKermit: The receiver refuses " + src + "/a.bin."), refused);
    EXPECT_EQ(ended.front().rfind("refused " + dst + "/a.bin exists", 0) == 0, refused);
    // Nothing is replaced or moved without a word.
    EXPECT_EQ(recvLog.Has("vxKermit: " + dst + "/a.bin kept as " + dst + "/a.bin.~1~."),
              c.policy == fcBackup);
    EXPECT_EQ(recvLog.Has("vxKermit: Stored as " + dst + "/a.bin.~1~."), c.policy == fcRename);
    EXPECT_EQ(recvLog.Has("vxKermit: " + dst + "/a.bin replaced."),
              c.policy == fcOverwrite || c.policy == fcUpdate);
  }
}

TEST_F(FileSafety, UpdateRefusesAFileThatIsNotNewerOrHasNoDate) {
  WriteAll(src + "/a.bin", "new");
  WriteAll(dst + "/a.bin", "old");
  SetModified(dst + "/a.bin", std::time(nullptr) + 100000);
  receiver.SetFileCollision(fcUpdate);
  Send(src + "/a.bin");
  EXPECT_EQ(ReadAll(dst + "/a.bin"), "old");
  EXPECT_TRUE(AnsweredAttributesWith("N#")) << "the date decided";
  EXPECT_EQ(ended, (std::vector<std::string>{"refused " + dst +
                                             "/a.bin is as new as the file sent or newer: the "
                                             "file received under that name is refused."}));
  // Without a date nothing tells it is newer.
  sender.SetFileDates(false);
  SetModified(dst + "/a.bin", 1'000'000'000);
  Send(src + "/a.bin");
  EXPECT_EQ(ReadAll(dst + "/a.bin"), "old");
  EXPECT_TRUE(AnsweredAttributesWith("N#"));
  EXPECT_TRUE(fatal.empty());
}

// A name that is a link in DIR refuses that one file, whatever the policy; the link, what it
// points to and the rest of the session are untouched.
TEST_F(FileSafety, LinksAndDirectoriesInDirRefuseThatFileOnly) {
  WriteAll(src + "/a.bin", RandomBytes(5000, 3));
  WriteAll(src + "/after.bin", RandomBytes(7000, 4));
  WriteAll(outside + "/target.bin", "outside");
  struct Case {
    std::string what, linkTo;  // linkTo empty: a directory named a.bin
  };
  const std::vector<Case> cases = {{"link to a file", outside + "/target.bin"},
                                   {"link to a directory", outside},
                                   {"dangling link", outside + "/nothing.bin"},
                                   {"directory", ""}};
  for (TvxFileCollision policy : {fcOverwrite, fcBackup, fcRename}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(c.what + " " + std::to_string(policy));
      const std::string entry = dst + "/a.bin";
      std::remove((dst + "/after.bin").c_str());
      std::remove(entry.c_str());
      if (c.linkTo.empty())
        ASSERT_EQ(::mkdir(entry.c_str(), 0755), 0);
      else
        ASSERT_EQ(::symlink(c.linkTo.c_str(), entry.c_str()), 0);
      receiver.SetFileCollision(policy);
      Send(src + "/a.bin;" + src + "/after.bin");
      EXPECT_TRUE(fatal.empty()) << fatal.front();
      EXPECT_TRUE(ReadAll(dst + "/after.bin") == ReadAll(src + "/after.bin"));
      EXPECT_EQ(EntriesOf(dst), (std::vector<std::string>{"a.bin", "after.bin"}));
      EXPECT_EQ(EntriesOf(outside), (std::vector<std::string>{"target.bin"}));
      EXPECT_EQ(ReadAll(outside + "/target.bin"), "outside");
      EXPECT_EQ(LinkTarget(entry), c.linkTo);
      EXPECT_TRUE(AnsweredAttributesWith("N"));
      const std::string why = c.linkTo.empty() ? " is a directory" : " is a symbolic link";
      EXPECT_TRUE(recvLog.Has("vxKermit: " + entry + why +
                              ": the file received under that name is refused."));
      ASSERT_EQ(ended.size(), 2u);
      EXPECT_EQ(ended[1], dst + "/after.bin");
      if (c.linkTo.empty()) ::rmdir(entry.c_str());
    }
  }
}

TEST_F(FileSafety, TwoFilesOfOneNameInABatchFollowThePolicy) {
  const std::string one = MakeTempDir("safety-one"), two = MakeTempDir("safety-two");
  WriteAll(one + "/same.bin", "first");
  WriteAll(two + "/same.bin", "second");
  receiver.SetFileCollision(fcBackup);
  Send(one + "/same.bin;" + two + "/same.bin");
  EXPECT_EQ(ReadAll(dst + "/same.bin"), "second");
  EXPECT_EQ(ReadAll(dst + "/same.bin.~1~"), "first");
  for (const std::string& e : EntriesOf(dst)) std::remove((dst + "/" + e).c_str());
  receiver.SetFileCollision(fcDiscard);
  Send(one + "/same.bin;" + two + "/same.bin");
  EXPECT_EQ(EntriesOf(dst), (std::vector<std::string>{"same.bin"}));
  EXPECT_EQ(ReadAll(dst + "/same.bin"), "first");
  EXPECT_EQ(ended.size(), 2u);
  EXPECT_EQ(ended[1].rfind("refused ", 0), 0u);
  // The component's default replaces the first, and says so.
  receiver.SetFileCollision(fcOverwrite);
  Send(one + "/same.bin;" + two + "/same.bin");
  EXPECT_EQ(ReadAll(dst + "/same.bin"), "second");
  EXPECT_TRUE(recvLog.Has("vxKermit: " + dst + "/same.bin replaced."));
  EXPECT_TRUE(fatal.empty());
}

// Until its Z the file is only under a temporary name: the old file keeps its name and its
// bytes while the new one arrives.
TEST_F(FileSafety, APartialFileNeverSitsUnderTheName) {
  WriteAll(src + "/a.bin", RandomBytes(60000, 5));
  WriteAll(dst + "/a.bin", "old");
  receiver.SetFileCollision(fcBackup);
  int checks = 0;
  bool tempSeen = false;
  receiver.OnProgress = [&](TObject*) {
    ++checks;
    EXPECT_EQ(ReadAll(dst + "/a.bin"), "old");
    for (const std::string& e : EntriesOf(dst)) tempSeen = tempSeen || e[0] == '.';
  };
  Send(src + "/a.bin");
  EXPECT_GT(checks, 5);
  EXPECT_TRUE(tempSeen);
  EXPECT_TRUE(ReadAll(dst + "/a.bin") == ReadAll(src + "/a.bin"));
  EXPECT_EQ(ReadAll(dst + "/a.bin.~1~"), "old");
}

// With recovery agreed a broken transfer leaves its part for a resend, hidden: a file of
// that name stays as it was.
TEST_F(FileSafety, ABrokenTransferNeverReplacesAFile) {
  sender.SetRecovery(true);
  receiver.SetRecovery(true);
  receiver.SetFileCollision(fcOverwrite);
  WriteAll(src + "/a.bin", RandomBytes(60000, 6));
  WriteAll(dst + "/a.bin", "old");
  int progress = 0;
  sender.OnProgress = [&](TObject*) {
    if (++progress == 5) sender.Abort();
  };
  Send(src + "/a.bin");
  EXPECT_TRUE(receiver.RecoveryAgreed());
  EXPECT_EQ(EntriesOf(dst), (std::vector<std::string>{".a.bin.vxpart", "a.bin"}));
  EXPECT_EQ(ReadAll(dst + "/a.bin"), "old");
  const std::string part = ReadAll(dst + "/.a.bin.vxpart");
  EXPECT_GT(part.size(), 0u);
  EXPECT_TRUE(part == ReadAll(src + "/a.bin").substr(0, part.size()));
  // The resend finishes the part, and the old file follows the policy.
  sender.OnProgress = nullptr;
  receiver.SetFileCollision(fcBackup);
  sender.ResendFiles(src + "/a.bin");
  ASSERT_TRUE(link.WaitForSessionEnd(20000));
  EXPECT_EQ(sender.RecoveredLength(), static_cast<std::int64_t>(part.size()));
  EXPECT_EQ(EntriesOf(dst), (std::vector<std::string>{"a.bin", "a.bin.~1~"}));
  EXPECT_TRUE(ReadAll(dst + "/a.bin") == ReadAll(src + "/a.bin"));
  EXPECT_EQ(ReadAll(dst + "/a.bin.~1~"), "old");
}

// A directory that takes the file's name while the file crosses: the file cannot be stored,
// and it is not reported received, whatever its data said.
TEST_F(FileSafety, AFileThatCannotTakeItsNameIsNotReportedReceived) {
  const std::string data = RandomBytes(60000, 8);
  WriteAll(src + "/a.bin", data);
  std::vector<TvxFileResult> results;
  receiver.OnFileResult = [&](TObject*, const TvxFileResult& r) { results.push_back(r); };
  bool blocked = false;
  receiver.OnProgress = [&](TObject*) {
    if (blocked) return;
    blocked = true;
    ASSERT_EQ(::mkdir((dst + "/a.bin").c_str(), 0755), 0);
    WriteAll(dst + "/a.bin/keep", "in the way");
  };
  Send(src + "/a.bin");
  ASSERT_TRUE(blocked);
  ASSERT_EQ(results.size(), 1u);
  EXPECT_NE(results[0].outcome, foComplete) << results[0].reason;
  EXPECT_FALSE(receiver.SessionResult().Ok());
  EXPECT_EQ(ReadAll(dst + "/a.bin/keep"), "in the way");
}

// A full disk (ENOSPC), or a file larger than the process may write (EFBIG), ends the session
// with the system's reason on both sides, and leaves nothing.
class FileSafetyDisk : public FileSafety, public ::testing::WithParamInterface<bool> {};

TEST_P(FileSafetyDisk, AFailedWriteEndsTheSessionWithTheSystemsReason) {
  WriteAll(src + "/big.bin", RandomBytes(256 * 1024, 7));
  std::vector<std::string> left;
  std::string reason;
  {
    const SmallDisk disk(64 * 1024, GetParam());
    reason = disk.Reason();
    receiver.SetDefaultPath(disk.Path());
    Send(src + "/big.bin");
    // Neither under its name nor under a temporary one.
    left = EntriesOf(disk.Path());
  }
  ASSERT_FALSE(fatal.empty());
  EXPECT_NE(fatal.front().find(reason), std::string::npos) << fatal.front();
  // The sender heard it, as far as one packet carries it.
  const std::string heard = "vxKermit: Transfer aborted. Remote end reports fatal error: ";
  bool told = false;
  for (const std::string& e : sendLog.Entries())
    if (e.rfind(heard, 0) == 0 && e.size() > heard.size() &&
        fatal.front().rfind(e.substr(heard.size()), 0) == 0)
      told = true;
  EXPECT_TRUE(told) << fatal.front();
  EXPECT_EQ(KermitLink::Count(link.sentByA, 'B'), 0u);
  EXPECT_TRUE(left.empty()) << left.front();
}

INSTANTIATE_TEST_SUITE_P(Limits, FileSafetyDisk, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return std::string(info.param ? "file_size_limit" : "full_disk");
                         });

// A sender whose Send-Init offers no attributes (the bit taken out on the line): the link's
// file is refused by "X" in its first data acknowledgement and the next file arrives; a
// streaming session, which acknowledges no data, ends with an E packet naming the link.
TEST_F(FileSafety, WithoutAttributesALinkIsRefusedByTheDataAcknowledgement) {
  link.filter = [](bool aToB, const std::string& b) -> std::string {
    if (!aToB || b.size() < 14 || b[3] != 'S') return b;
    std::string data = b.substr(4, b.size() - 6);  // LEN SEQ TYPE, then one check, then CR
    data[9] = static_cast<char>(((data[9] - 32) & ~8) + 32);
    return Packet('S', 0, data, 0);
  };
  WriteAll(src + "/a.bin", RandomBytes(5000, 8));
  WriteAll(src + "/b.bin", RandomBytes(5000, 9));
  WriteAll(outside + "/target.bin", "outside");
  ASSERT_EQ(::symlink((outside + "/target.bin").c_str(), (dst + "/a.bin").c_str()), 0);
  Send(src + "/a.bin;" + src + "/b.bin");
  EXPECT_TRUE(fatal.empty()) << fatal.front();
  EXPECT_EQ(KermitLink::Count(link.sentByA, 'A'), 0u) << "no attributes";
  EXPECT_TRUE(ReadAll(dst + "/b.bin") == ReadAll(src + "/b.bin"));
  EXPECT_EQ(ReadAll(outside + "/target.bin"), "outside");
  EXPECT_TRUE(sendLog.Has("vxKermit: File transfer is skipped. File Group: 0. Deletion: 1"));

  std::remove((dst + "/b.bin").c_str());
  sender.SetStreaming(true);
  receiver.SetStreaming(true);
  Send(src + "/a.bin;" + src + "/b.bin");
  EXPECT_TRUE(receiver.StreamingAgreed());
  ASSERT_FALSE(fatal.empty());
  EXPECT_NE(fatal.front().find(dst + "/a.bin is a symbolic link"), std::string::npos)
      << fatal.front();
  // The E packet carries what the peer's packet length allows of the reason.
  const std::string told =
      "vxKermit: Transfer aborted. Remote end reports fatal error: " + dst + "/a.bin is a";
  const auto entries = sendLog.Entries();
  EXPECT_TRUE(std::any_of(entries.begin(), entries.end(),
                          [&](const std::string& e) { return e.rfind(told, 0) == 0; }));
  EXPECT_EQ(ReadAll(outside + "/target.bin"), "outside");
  EXPECT_EQ(EntriesOf(dst), (std::vector<std::string>{"a.bin"}));
}

// Packets fed by hand: a sender that gives no attributes is refused by the acknowledgement of
// its first data packet.
class FileSafetyWire : public ::testing::Test {
 protected:
  void SetUp() override {
    dst = MakeTempDir("safety-wire");
    k.SetActive(true);
    k.SetDefaultPath(dst);
    k.SetLog(&log);
    k.OnDataSend = [this](TObject*, const void* d, Cardinal n, bool, bool& handled) {
      handled = true;
      replies.emplace_back(static_cast<const char*>(d), n);
    };
  }
  std::string Answer(const std::string& packet) {
    k.DataReceived(packet.data(), static_cast<Cardinal>(packet.size()));
    return replies.empty() ? std::string() : replies.back();
  }
  std::string dst;
  TvxKermit k;
  TvxTestLog log;
  std::vector<std::string> replies;
};

TEST_F(FileSafetyWire, WithoutAttributesTheFirstDataAcknowledgementRefuses) {
  ASSERT_EQ(::symlink("/etc/passwd", (dst + "/a.bin").c_str()), 0);
  // A Send-Init whose capabilities hold no attributes.
  Answer(Packet('S', 0, "~% @-#Y3  ", 0));
  ASSERT_EQ(k.State(), fsReceive);
  EXPECT_EQ(Answer(Packet('F', 1, "a.bin", 2)), Packet('Y', 1, "", 2));
  EXPECT_EQ(Answer(Packet('D', 2, "data", 2)), Packet('Y', 2, "X", 2));
  EXPECT_EQ(Answer(Packet('Z', 3, "D", 2)), Packet('Y', 3, "", 2));
  EXPECT_EQ(LinkTarget(dst + "/a.bin"), "/etc/passwd");
  // The session goes on.
  EXPECT_EQ(Answer(Packet('F', 4, "b.bin", 2)), Packet('Y', 4, "", 2));
  EXPECT_EQ(Answer(Packet('D', 5, "bytes", 2)), Packet('Y', 5, "", 2));
  EXPECT_EQ(Answer(Packet('Z', 6, "", 2)), Packet('Y', 6, "", 2));
  EXPECT_EQ(ReadAll(dst + "/b.bin"), "bytes");
  // An empty file: nothing to refuse it by; it is not stored, and that is logged.
  ASSERT_EQ(::symlink("/etc/passwd", (dst + "/c.bin").c_str()), 0);
  Answer(Packet('F', 7, "c.bin", 2));
  EXPECT_EQ(Answer(Packet('Z', 8, "", 2)), Packet('Y', 8, "", 2));
  EXPECT_TRUE(log.Has("vxKermit: The sender was not told: it gave no attributes and no data."));
  EXPECT_EQ(Answer(Packet('B', 9, "", 2)), Packet('Y', 9, "", 2));
  EXPECT_EQ(k.State(), fsListen);
  EXPECT_EQ(EntriesOf(dst), (std::vector<std::string>{"a.bin", "b.bin", "c.bin"}));
}
