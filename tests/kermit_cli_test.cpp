// The vxkermit program as a user runs it: help, sending to and receiving from a standard
// Kermit peer over a pty pair, and the exit status of each failure.
#include <gtest/gtest.h>

#include <QProcess>

#include "support/kermitfiles.h"
#include "support/kermitpeer.h"
#include "support/ptypair.h"
#include "support/socatpair.h"

using namespace kermitfiles;

namespace {

struct CliRun {
  int code = -1;
  std::string out, err;
};

CliRun RunCli(const QStringList& args, int timeoutMs = 60000) {
  QProcess p;
  p.start(VXKERMIT_BIN, args);
  CliRun r;
  if (!p.waitForStarted(5000)) return r;
  if (!p.waitForFinished(timeoutMs)) {
    p.kill();
    p.waitForFinished(2000);
    return r;
  }
  r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
  r.out = p.readAllStandardOutput().toStdString();
  r.err = p.readAllStandardError().toStdString();
  return r;
}

}  // namespace

TEST(KermitCli, HelpDocumentsBothCommands) {
  const CliRun r = RunCli({"--help"});
  EXPECT_EQ(r.code, 0);
  EXPECT_NE(r.out.find("vxkermit send [options] DEVICE MASK..."), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("vxkermit receive [options] DEVICE [DIR]"), std::string::npos);
  EXPECT_NE(r.out.find("--check"), std::string::npos);
  EXPECT_NE(r.out.find("Exit status"), std::string::npos);
}

TEST(KermitCli, SendsToAndReceivesFromAPeer) {
  const std::string src = MakeTempDir("cli-src"), dst = MakeTempDir("cli-dst"),
                    back = MakeTempDir("cli-back");
  WriteAll(src + "/one.bin", RandomBytes(100000, 31));
  WriteAll(src + "/two.txt", Text());
  {
    SocatPair line;
    auto peer = KermitPeer::Receive(KermitPeer::CKermit, line.B(), dst, 30);
    const CliRun r =
        RunCli({"send", "--check", "2", "--log", QString::fromStdString(src + "/../cli.log"),
                QString::fromStdString(line.A()), QString::fromStdString(src + "/*")});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.err.find("vxkermit: 2 files sent"), std::string::npos) << r.err;
    EXPECT_TRUE(peer->Wait(10000));
    EXPECT_EQ(ReadAll(dst + "/one.bin"), ReadAll(src + "/one.bin"));
    EXPECT_EQ(ReadAll(dst + "/two.txt"), ReadAll(src + "/two.txt"));
    EXPECT_NE(ReadAll(src + "/../cli.log").find("vxKermit: "), std::string::npos);
  }
  {
    SocatPair line;
    QProcess cli;
    cli.start(VXKERMIT_BIN, {"receive", "--quiet", QString::fromStdString(line.A()),
                             QString::fromStdString(back)});
    ASSERT_TRUE(cli.waitForStarted(5000));
    auto peer = KermitPeer::Send(KermitPeer::GKermit, line.B(),
                                 {src + "/one.bin", src + "/two.txt"}, src, 30);
    EXPECT_TRUE(peer->Wait(30000));
    // Our side may have ended while the event loop waited for the peer.
    EXPECT_TRUE(cli.state() == QProcess::NotRunning || cli.waitForFinished(10000));
    EXPECT_EQ(cli.exitCode(), 0);
    EXPECT_EQ(cli.readAllStandardError().toStdString().find("vxKermit"), std::string::npos)
        << "--quiet";
    EXPECT_EQ(ReadAll(back + "/one.bin"), ReadAll(src + "/one.bin"));
    EXPECT_EQ(ReadAll(back + "/two.txt"), ReadAll(src + "/two.txt"));
  }
}

TEST(KermitCli, FailuresHaveTheirExitStatus) {
  const std::string src = MakeTempDir("cli-fail");
  EXPECT_EQ(RunCli({"fly", "/dev/null"}).code, 2);
  EXPECT_EQ(RunCli({"send", "/dev/null"}).code, 2) << "no mask";
  EXPECT_EQ(RunCli({"send", "--check", "4", "/dev/null", "x"}).code, 2);
  const CliRun noDevice = RunCli({"receive", "/nonexistent/tty"});
  EXPECT_EQ(noDevice.code, 2);
  EXPECT_NE(noDevice.err.find("cannot open /nonexistent/tty"), std::string::npos) << noDevice.err;
  SocatPair line;
  const CliRun noFiles =
      RunCli({"send", QString::fromStdString(line.A()), QString::fromStdString(src + "/none-*")});
  EXPECT_EQ(noFiles.code, 1);
  EXPECT_NE(noFiles.err.find("There are no files for transmission."), std::string::npos)
      << noFiles.err;
  const CliRun nobody = RunCli(
      {"receive", "--wait", "1", QString::fromStdString(line.A()), QString::fromStdString(src)});
  EXPECT_EQ(nobody.code, 1);
  EXPECT_NE(nobody.err.find("no session started"), std::string::npos) << nobody.err;
  // A peer that never answers: the error limit ends the send with status 1.
  WriteAll(src + "/a.txt", "abc");
  const CliRun silent =
      RunCli({"send", "--timeout", "1", "--error-limit", "1", QString::fromStdString(line.A()),
              QString::fromStdString(src + "/a.txt")});
  EXPECT_EQ(silent.code, 1);
  EXPECT_NE(silent.err.find("Too many errors."), std::string::npos) << silent.err;
}
