// vxkermit ended by a signal in the middle of a transfer, both ways, against ckermit with
// our fixture's settings and on its own defaults: the peer is told (it ends at once, naming
// our reason), the lock file goes, the line reads as it did before the program ran, and the
// next session on the same line works. A normal exit leaves the line as found too, unless
// --keep-settings.
#include <gtest/gtest.h>

#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <QDir>
#include <QProcess>
#include <string>

#include "support/kermitfiles.h"
#include "support/kermitpeer.h"
#include "support/lineleft.h"
#include "support/ptypair.h"
#include "support/socatpair.h"

using namespace kermitfiles;

namespace {

// ckermit's own defaults for what our fixture sets otherwise (as "show file" lists them).
const char* kPeerDefaults =
    "set transfer mode automatic, set file names converted, set file collision backup";

// After Action: ckermit prints the reason its last transfer failed, and exits with the
// status of Action.
std::string TellingWhy(const std::string& action) {
  return action + ", .st := \\v(status), echo WHY=[\\v(xfermsg)], exit \\m(st)";
}

// The bytes the files in Dir hold (hidden ones too: a file may be received under a
// temporary name).
qint64 BytesIn(const std::string& dir) {
  qint64 total = 0;
  for (const QFileInfo& f : QDir(QString::fromStdString(dir))
                                .entryInfoList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot))
    total += f.size();
  return total;
}

// One vxkermit run on Device to its end: the exit status, -1 if it did not end in time.
int RunToEnd(const QStringList& args, std::string& err) {
  QProcess p;
  p.start(VXKERMIT_BIN, args);
  if (!p.waitForStarted(5000)) return -1;
  if (!p.waitForFinished(60000)) {
    p.kill();
    p.waitForFinished(2000);
    return -1;
  }
  err = p.readAllStandardError().toStdString();
  return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

// A short send to ckermit on Line that must succeed: the line is good for another session.
void ExpectNextSendWorks(const SocatPair& line, const std::string& src) {
  const std::string dst = MakeTempDir("signal-next");
  WriteAll(src + "/next.bin", RandomBytes(50000, 9));
  auto peer = KermitPeer::Receive(KermitPeer::CKermit, line.B(), dst, 60);
  std::string err;
  EXPECT_EQ(RunToEnd({"send", QString::fromStdString(line.A()),
                      QString::fromStdString(src + "/next.bin")},
                     err),
            0)
      << err;
  EXPECT_TRUE(peer->Wait(20000));
  EXPECT_EQ(peer->ExitCode(), 0) << peer->Output();
  EXPECT_EQ(ReadAll(dst + "/next.bin"), ReadAll(src + "/next.bin"));
}

struct SignalCase {
  int sig;
  bool weSend;
  bool peerDefaults;
  const char* name;
};

class KermitSignal : public ::testing::TestWithParam<SignalCase> {};

}  // namespace

TEST_P(KermitSignal, EndsTheSessionTellsThePeerAndLeavesTheLineAsFound) {
  const SignalCase c = GetParam();
  const std::string src = MakeTempDir("signal-src"), dst = MakeTempDir("signal-dst");
  WriteAll(src + "/big.bin", RandomBytes(64u << 20, 17));
  SocatPair line;
  const struct termios found = LineSettingsOf(line.A());
  const std::string extra = c.peerDefaults ? kPeerDefaults : "";

  std::unique_ptr<KermitPeer> peer;
  QProcess cli;
  if (c.weSend) {
    peer = KermitPeer::CKermitRun(line.B(), dst, 120, extra, TellingWhy("receive"));
    cli.start(VXKERMIT_BIN,
              {"send", QString::fromStdString(line.A()), QString::fromStdString(src + "/big.bin")});
  } else {
    peer = KermitPeer::CKermitRun(line.B(), src, 120, extra, TellingWhy("send big.bin"));
    cli.start(VXKERMIT_BIN,
              {"receive", QString::fromStdString(line.A()), QString::fromStdString(dst)});
  }
  ASSERT_TRUE(cli.waitForStarted(5000));
  // Part-way through: the receiving side holds some of the file.
  ASSERT_TRUE(WaitUntil([&] { return BytesIn(dst) > (2 << 20); }, 30000))
      << cli.readAllStandardError().toStdString();
  ASSERT_LT(BytesIn(dst), 64 << 20) << "the transfer ended before the signal";
  ::kill(static_cast<pid_t>(cli.processId()), c.sig);
  ASSERT_TRUE(cli.waitForFinished(20000));
  EXPECT_EQ(cli.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(cli.exitCode(), 128 + c.sig);
  const std::string reason = "ended by signal " + std::to_string(c.sig);
  const std::string err = cli.readAllStandardError().toStdString();
  EXPECT_NE(err.find("vxkermit: transfer failed: " + reason), std::string::npos) << err;

  // The E packet crossed: the peer ends by itself, long before its time limit, and says why.
  ASSERT_TRUE(peer->Wait(20000)) << "the peer never heard of the end";
  EXPECT_GT(peer->ExitCode(), 0) << peer->Output();
  EXPECT_NE(peer->Output().find("WHY=[" + reason), std::string::npos) << peer->Output();

  EXPECT_TRUE(LockFilesOf(line.A()).empty());
  EXPECT_TRUE(SameLineSettings(LineSettingsOf(line.A()), found))
      << "the line was not left as it was found";
  ExpectNextSendWorks(line, src);
  EXPECT_TRUE(SameLineSettings(LineSettingsOf(line.A()), found))
      << "a normal exit did not restore the line";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, KermitSignal,
    ::testing::Values(SignalCase{SIGTERM, true, false, "term_send"},
                      SignalCase{SIGINT, false, false, "int_receive"},
                      SignalCase{SIGHUP, true, true, "hup_send_peer_defaults"},
                      SignalCase{SIGTERM, false, true, "term_receive_peer_defaults"}),
    [](const ::testing::TestParamInfo<SignalCase>& info) { return std::string(info.param.name); });

TEST(KermitSignal, HelpTellsOfSignalsAndKeepSettings) {
  QProcess p;
  p.start(VXKERMIT_BIN, {"--help"});
  ASSERT_TRUE(p.waitForFinished(10000));
  const std::string help = p.readAllStandardOutput().toStdString();
  EXPECT_NE(help.find("128+N  ended by signal N (SIGINT, SIGTERM or SIGHUP)"), std::string::npos)
      << help;
  EXPECT_NE(help.find("--keep-settings"), std::string::npos);
  EXPECT_NE(help.find("put back as they were found"), std::string::npos);
}

TEST(KermitSignal, KeepSettingsLeavesTheLineAsVxkermitRanIt) {
  const std::string src = MakeTempDir("keep-src"), dst = MakeTempDir("keep-dst");
  WriteAll(src + "/small.bin", RandomBytes(20000, 3));
  SocatPair line;
  const struct termios found = LineSettingsOf(line.A());
  auto peer = KermitPeer::Receive(KermitPeer::CKermit, line.B(), dst, 60);
  std::string err;
  ASSERT_EQ(RunToEnd({"send", "--keep-settings", "--speed", "57600",
                      QString::fromStdString(line.A()), QString::fromStdString(src + "/small.bin")},
                     err),
            0)
      << err;
  EXPECT_TRUE(peer->Wait(20000));
  const struct termios kept = LineSettingsOf(line.A());
  EXPECT_FALSE(SameLineSettings(kept, found));
  EXPECT_EQ(cfgetospeed(&kept), static_cast<speed_t>(B57600));
  EXPECT_EQ(kept.c_lflag & (ICANON | ECHO | IEXTEN), 0u);
  EXPECT_TRUE(LockFilesOf(line.A()).empty());
}
