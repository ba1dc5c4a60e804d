// The account of a session, on both sides of two components back to back: how each file
// ended (complete, skipped by either side, discarded, aborted, failed) with the bytes that
// crossed, told once per file, and the session's result told once at its end.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <climits>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "support/kermitfiles.h"
#include "support/kermitlink.h"
#include "support/ptypair.h"
#include "vxcomm/unqualified.h"
#include "vxcomm/vxkermit.h"

using namespace kermitfiles;
namespace fs = std::filesystem;

namespace {

// One side: its component and every account it gave.
struct Side {
  TvxKermit kermit;
  std::vector<TvxFileResult> files;
  std::vector<TvxSessionResult> sessions;
  std::vector<std::string> fileEnds;  // FileName + outcome, as read inside OnFileEnd
  Side() {
    kermit.SetActive(true);
    kermit.OnFatalError = [](TObject*, Cardinal, Cardinal, const std::string&, bool& raise) {
      raise = false;
    };
    kermit.OnFileResult = [this](TObject*, const TvxFileResult& r) { files.push_back(r); };
    kermit.OnSessionEnd = [this](TObject*, const TvxSessionResult& r) { sessions.push_back(r); };
    kermit.OnFileEnd = [this](TObject*) {
      fileEnds.push_back(kermit.FileName() + " " + FileOutcomeText(kermit.FileResult().outcome));
    };
  }
};

class KermitResult : public ::testing::Test {
 protected:
  void SetUp() override {
    src = MakeTempDir("kr-src");
    dst = MakeTempDir("kr-dst");
    receiver.kermit.SetDefaultPath(dst);
  }
  // Sends Mask and waits until both sides told their session's end.
  // Listed runs once the list is built, before the first file opens.
  void Run(const std::string& mask, const std::function<void()>& listed = {}) {
    KermitLink link(&sender.kermit, &receiver.kermit);
    sender.kermit.SendFiles(mask);
    if (listed) listed();
    ASSERT_TRUE(WaitUntil(
        [&] {
          return !sender.sessions.empty() && !receiver.sessions.empty() &&
                 sender.kermit.State() == fsListen && receiver.kermit.State() == fsListen;
        },
        30000));
    // Nothing more is told after the end.
    QCoreApplication::processEvents();
    ASSERT_EQ(sender.sessions.size(), 1u);
    ASSERT_EQ(receiver.sessions.size(), 1u);
  }
  // Calls Act once, at the Nth progress of Side, when a file is open.
  static void AtProgress(Side& side, int n, std::function<void()> act) {
    auto calls = std::make_shared<int>(0);
    side.kermit.OnProgress = [calls, n, act](TObject*) {
      if (++*calls == n) act();
    };
  }

  std::string src, dst;
  Side sender, receiver;
};

}  // namespace

TEST_F(KermitResult, CompleteFilesAreToldOnceEachWithTheirBytesAndTheSessionIsOk) {
  WriteAll(src + "/a.bin", RandomBytes(30000, 1));
  WriteAll(src + "/b.bin", RandomBytes(5000, 2));
  WriteAll(src + "/empty.bin", "");
  Run(src + "/*.bin");
  for (Side* side : {&sender, &receiver}) {
    ASSERT_EQ(side->files.size(), 3u);
    for (const TvxFileResult& f : side->files) {
      EXPECT_EQ(f.outcome, foComplete) << f.name << ": " << f.reason;
      EXPECT_TRUE(f.reason.empty());
    }
    EXPECT_EQ(side->files[0].bytes, 30000);
    EXPECT_EQ(side->files[1].bytes, 5000);
    EXPECT_EQ(side->files[2].bytes, 0);
    const TvxSessionResult& s = side->sessions[0];
    EXPECT_TRUE(s.Ok()) << s.failure;
    EXPECT_TRUE(s.ended);
    EXPECT_EQ(s.Files(foComplete), 3);
    EXPECT_EQ(s.FileCount(), 3);
    EXPECT_EQ(s.bytes[foComplete], 35000);
    EXPECT_EQ(s.TotalBytes(), 35000);
  }
  EXPECT_TRUE(sender.sessions[0].sending);
  EXPECT_EQ(sender.sessions[0].listed, 3);
  EXPECT_FALSE(receiver.sessions[0].sending);
  EXPECT_EQ(receiver.files[1].name, dst + "/b.bin");
  EXPECT_EQ(ReadAll(dst + "/a.bin"), RandomBytes(30000, 1));
  // Read inside OnFileEnd, each file is complete as far as its side knows at its close.
  EXPECT_EQ(sender.fileEnds[0], src + "/a.bin complete");
  EXPECT_EQ(receiver.fileEnds[2], dst + "/empty.bin complete");
}

TEST_F(KermitResult, ASenderSkipIsSkippedHereAndSkippedByThePeerThere) {
  const std::string body = RandomBytes(200000, 3);
  WriteAll(src + "/big.bin", body);
  WriteAll(src + "/next.bin", "after");
  AtProgress(sender, 3, [&] { sender.kermit.SkipFile(false, false); });
  Run(src + "/big.bin," + src + "/next.bin");
  ASSERT_EQ(sender.files.size(), 2u);
  EXPECT_EQ(sender.files[0].outcome, foSkippedByUs);
  EXPECT_GT(sender.files[0].bytes, 0);
  EXPECT_LT(sender.files[0].bytes, 200000);
  EXPECT_EQ(sender.files[1].outcome, foComplete);
  ASSERT_EQ(receiver.files.size(), 2u);
  // The receiver keeps the short file, and knows it short of the length announced.
  EXPECT_EQ(receiver.files[0].outcome, foSkippedByPeer);
  EXPECT_NE(receiver.files[0].reason.find("bytes of"), std::string::npos)
      << receiver.files[0].reason;
  const std::string kept = ReadAll(dst + "/big.bin");
  EXPECT_EQ(static_cast<std::int64_t>(kept.size()), receiver.files[0].bytes);
  EXPECT_EQ(kept, body.substr(0, kept.size()));
  EXPECT_EQ(ReadAll(dst + "/next.bin"), "after");
  for (Side* side : {&sender, &receiver}) {
    const TvxSessionResult& s = side->sessions[0];
    EXPECT_TRUE(s.ended);
    EXPECT_FALSE(s.Ok());
    EXPECT_EQ(s.Files(foComplete), 1);
    EXPECT_EQ(s.bytes[foComplete], 5);
  }
  EXPECT_EQ(sender.fileEnds[0], src + "/big.bin skipped");
}

TEST_F(KermitResult, AReceiverSkipIsSkippedHereAndSkippedByThePeerThere) {
  WriteAll(src + "/big.bin", RandomBytes(200000, 4));
  AtProgress(receiver, 3, [&] { receiver.kermit.SkipFile(false, false); });
  Run(src + "/big.bin");
  ASSERT_EQ(receiver.files.size(), 1u);
  EXPECT_EQ(receiver.files[0].outcome, foSkippedByUs);
  EXPECT_FALSE(Exists(dst + "/big.bin"));
  ASSERT_EQ(sender.files.size(), 1u);
  EXPECT_EQ(sender.files[0].outcome, foSkippedByPeer);
  EXPECT_FALSE(sender.sessions[0].Ok());
  EXPECT_EQ(sender.sessions[0].Files(foSkippedByPeer), 1);
  EXPECT_EQ(receiver.fileEnds[0], dst + "/big.bin skipped");
}

TEST_F(KermitResult, AFileTheSenderDiscardsIsDiscardedThere) {
  WriteAll(src + "/big.bin", RandomBytes(200000, 5));
  AtProgress(sender, 3, [&] { sender.kermit.SkipFile(false, true); });
  Run(src + "/big.bin");
  EXPECT_EQ(sender.files.at(0).outcome, foSkippedByUs);
  EXPECT_EQ(receiver.files.at(0).outcome, foDiscarded);
  EXPECT_FALSE(Exists(dst + "/big.bin"));
  EXPECT_EQ(receiver.sessions[0].Files(foDiscarded), 1);
  EXPECT_GT(receiver.sessions[0].bytes[foDiscarded], 0);
}

TEST_F(KermitResult, AnAbortEndsTheFileAndTheSessionAsAbortedOnBothSides) {
  WriteAll(src + "/big.bin", RandomBytes(200000, 6));
  WriteAll(src + "/never.bin", "never");
  AtProgress(sender, 3, [&] { sender.kermit.Abort(); });
  Run(src + "/big.bin;" + src + "/never.bin");
  ASSERT_EQ(sender.files.size(), 1u);
  EXPECT_EQ(sender.files[0].outcome, foAborted);
  EXPECT_EQ(sender.sessions[0].failure, "aborted");
  EXPECT_EQ(sender.sessions[0].listed, 2);
  EXPECT_FALSE(sender.sessions[0].ended);
  ASSERT_EQ(receiver.files.size(), 1u);
  EXPECT_EQ(receiver.files[0].outcome, foAborted);
  EXPECT_EQ(receiver.sessions[0].failure.rfind("Remote end reports fatal error: ", 0), 0u)
      << receiver.sessions[0].failure;
  EXPECT_FALSE(receiver.sessions[0].Ok());
}

TEST_F(KermitResult, AFileThatFailsIsFailedWithTheReason) {
  // Opens, but every read fails.
  Run("/proc/self/mem");
  ASSERT_EQ(sender.files.size(), 1u);
  EXPECT_EQ(sender.files[0].outcome, foFailed);
  EXPECT_FALSE(sender.files[0].reason.empty());
  EXPECT_EQ(sender.sessions[0].failure, sender.files[0].reason);
  EXPECT_EQ(sender.sessions[0].Files(foFailed), 1);
  EXPECT_EQ(receiver.files.at(0).outcome, foAborted);
}

// With SkipUnreadableFiles a listed file that cannot be opened is told as skipped with its
// reason and named in the session's account; the receiver never hears of it, and the files
// around it arrive whole. No file mode stops root: for root the file becomes a dangling link
// once listed.
TEST_F(KermitResult, AnUnreadableFileIsSkippedAndTheBatchGoesOn) {
  WriteAll(src + "/a_ok.bin", RandomBytes(20000, 31));
  WriteAll(src + "/b_unreadable.bin", RandomBytes(500, 32));
  WriteAll(src + "/c_ok.bin", RandomBytes(7000, 33));
  const std::string b = src + "/b_unreadable.bin";
  const bool root = ::geteuid() == 0;
  if (!root) {
    ASSERT_EQ(::chmod(b.c_str(), 0), 0);
  }
  sender.kermit.SetSkipUnreadableFiles(true);
  Run(src + "/*.bin", [&] {
    if (!root) return;
    fs::remove(b);
    fs::create_symlink(src + "/nowhere", b);
  });

  ASSERT_EQ(sender.files.size(), 3u);
  EXPECT_EQ(sender.files[0].outcome, foComplete);
  EXPECT_EQ(sender.files[1].name, b);
  EXPECT_EQ(sender.files[1].outcome, foSkippedByUs);
  EXPECT_EQ(sender.files[1].bytes, 0);
  EXPECT_EQ(sender.files[1].reason, "Cannot open file \"" + b + "\". " +
                                        (root ? "No such file or directory" : "Permission denied"));
  EXPECT_EQ(sender.files[2].outcome, foComplete);
  const TvxSessionResult& session = sender.sessions[0];
  EXPECT_EQ(session.unreadable, std::vector<std::string>{b});
  EXPECT_TRUE(session.ended);
  EXPECT_EQ(session.Files(foComplete), 2);
  EXPECT_EQ(session.Files(foSkippedByUs), 1);
  EXPECT_FALSE(session.Ok()) << "a file listed did not cross";
  EXPECT_EQ(sender.fileEnds,
            (std::vector<std::string>{src + "/a_ok.bin complete", src + "/c_ok.bin complete"}))
      << "no file event for a file never opened";

  ASSERT_EQ(receiver.files.size(), 2u);
  for (const TvxFileResult& f : receiver.files) EXPECT_EQ(f.outcome, foComplete) << f.name;
  EXPECT_TRUE(receiver.sessions[0].Ok());
  EXPECT_EQ(ReadAll(dst + "/a_ok.bin"), RandomBytes(20000, 31));
  EXPECT_EQ(ReadAll(dst + "/c_ok.bin"), RandomBytes(7000, 33));
  EXPECT_FALSE(fs::exists(fs::symlink_status(dst + "/b_unreadable.bin")));
}

// Off (the default), the same file ends the session as failed: nothing after it is sent.
TEST_F(KermitResult, AnUnreadableFileEndsTheSessionByDefault) {
  WriteAll(src + "/a_ok.bin", RandomBytes(2000, 34));
  WriteAll(src + "/b_unreadable.bin", RandomBytes(500, 35));
  WriteAll(src + "/c_ok.bin", RandomBytes(700, 36));
  const std::string b = src + "/b_unreadable.bin";
  Run(src + "/*.bin", [&] { fs::remove(b); });
  EXPECT_EQ(sender.sessions[0].failure,
            "Cannot open file \"" + b + "\". No such file or directory");
  EXPECT_TRUE(sender.sessions[0].unreadable.empty());
  EXPECT_EQ(sender.sessions[0].Files(foComplete), 1);
  EXPECT_FALSE(fs::exists(dst + "/c_ok.bin"));
}

TEST_F(KermitResult, AFileWhoseEndIsNeverAcknowledgedIsNotComplete) {
  WriteAll(src + "/a.bin", RandomBytes(3000, 7));
  sender.kermit.SetTimeout(200);
  sender.kermit.SetErrorLimit(1);
  KermitLink link(&sender.kermit, &receiver.kermit);
  // The receiver never hears the Z: the sender gives up on it.
  link.filter = [](bool aToB, const std::string& block) {
    return aToB && block.size() > 3 && block[3] == 'Z' ? std::string() : block;
  };
  sender.kermit.SendFiles(src + "/a.bin");
  ASSERT_TRUE(WaitUntil([&] { return !sender.sessions.empty(); }, 30000));
  ASSERT_EQ(sender.files.size(), 1u);
  EXPECT_EQ(sender.files[0].outcome, foFailed);
  EXPECT_EQ(sender.files[0].reason, "Too many errors.");
  // At its close it had every byte out.
  EXPECT_EQ(sender.fileEnds[0], src + "/a.bin complete");
  EXPECT_EQ(sender.sessions[0].Files(foComplete), 0);
}

TEST_F(KermitResult, ABreakLostOnTheLineIsSentAgainAndBothSessionsEndWell) {
  WriteAll(src + "/a.bin", RandomBytes(3000, 8));
  receiver.kermit.SetTimeout(300);
  KermitLink link(&sender.kermit, &receiver.kermit);
  // The sender's session ends with its B; the first two copies of it never arrive.
  int breaksDropped = 0;
  link.filter = [&](bool aToB, const std::string& block) {
    const bool isBreak = aToB && block.size() > 3 && block[3] == 'B';
    return isBreak && breaksDropped++ < 2 ? std::string() : block;
  };
  sender.kermit.SendFiles(src + "/a.bin");
  ASSERT_TRUE(WaitUntil([&] { return !receiver.sessions.empty(); }, 30000));
  QCoreApplication::processEvents();
  EXPECT_EQ(KermitLink::Count(link.sentByA, 'B'), 3u);
  for (Side* side : {&sender, &receiver}) {
    ASSERT_EQ(side->sessions.size(), 1u);
    EXPECT_TRUE(side->sessions[0].Ok()) << side->sessions[0].failure;
    EXPECT_EQ(side->sessions[0].Files(foComplete), 1);
    EXPECT_EQ(side->kermit.State(), fsListen);
  }
  EXPECT_EQ(ReadAll(dst + "/a.bin"), RandomBytes(3000, 8));
}

TEST_F(KermitResult, ASizeBeyondTwoGibibytesReachesProgressWhole) {
  // A sparse file of 4.5 GiB: only its first packets cross.
  const std::string path = src + "/huge.bin";
  const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  const std::int64_t size = 4831838208LL;
  if (::ftruncate(fd, size) != 0) GTEST_SKIP() << "no sparse file of 4.5 GiB here";
  ::close(fd);
  sender.kermit.SetExactLength(true);
  std::int64_t total = 0, announced = 0;
  AtProgress(receiver, 2, [&] {
    total = receiver.kermit.TotalSize();
    announced = receiver.kermit.ReceivedSize();
    receiver.kermit.Abort();
  });
  Run(path);
  EXPECT_EQ(total, size);
  EXPECT_EQ(announced, INT32_MAX);
  EXPECT_EQ(receiver.files.at(0).outcome, foAborted);
}

// The same account whichever way the data goes: a window of packets in flight, or a stream.
TEST_F(KermitResult, WindowedAndStreamedSessionsGiveTheSameAccount) {
  WriteAll(src + "/a.bin", RandomBytes(120000, 8));
  WriteAll(src + "/b.bin", RandomBytes(7000, 9));
  for (Side* side : {&sender, &receiver}) {
    side->kermit.SetLongPackets(true);
    side->kermit.SetWindowSize(8);
  }
  Run(src + "/*.bin");
  EXPECT_EQ(sender.kermit.WindowAgreed(), 8);
  for (Side* side : {&sender, &receiver}) {
    EXPECT_TRUE(side->sessions[0].Ok()) << side->sessions[0].failure;
    EXPECT_EQ(side->sessions[0].bytes[foComplete], 127000);
    side->files.clear();
    side->sessions.clear();
    side->kermit.SetWindowSize(1);
    side->kermit.SetStreaming(true);
  }
  Run(src + "/*.bin");
  EXPECT_TRUE(sender.kermit.StreamingAgreed());
  for (Side* side : {&sender, &receiver}) {
    EXPECT_TRUE(side->sessions[0].Ok()) << side->sessions[0].failure;
    ASSERT_EQ(side->files.size(), 2u);
    EXPECT_EQ(side->files[0].bytes, 120000);
    EXPECT_EQ(side->files[1].bytes, 7000);
  }
  EXPECT_EQ(ReadAll(dst + "/a.bin"), RandomBytes(120000, 8));
}
