// The vxkermit program as a user runs it: help, sending to and receiving from a standard
// Kermit peer over a pty pair, the exit status of each failure, what --quiet leaves out,
// and file names that are bytes rather than text.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <QProcess>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>

#include "support/kermitfiles.h"
#include "support/kermitpeer.h"
#include "support/programrun.h"
#include "support/ptypair.h"
#include "support/smalldisk.h"
#include "support/socatpair.h"
#include "vxcomm/platform/fileopen.h"
#include "vxcomm/unqualified.h"
#include "vxcomm/vxkermit.h"

using namespace kermitfiles;

namespace {

using CliRun = ProgramRun;

CliRun RunCli(const QStringList& args, int timeoutMs = 60000) {
  return RunProgram(VXKERMIT_BIN, args, timeoutMs);
}

bool StartReceiver(QProcess& cli, const QStringList& args) {
  return StartWithOpenLine(cli, VXKERMIT_BIN, args);
}

}  // namespace

TEST(KermitCli, HelpDocumentsBothCommands) {
  const CliRun r = RunCli({"--help"});
  EXPECT_EQ(r.code, 0);
  EXPECT_NE(r.out.find("vxkermit send [options] DEVICE MASK..."), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("vxkermit receive [options] DEVICE [DIR]"), std::string::npos);
  EXPECT_NE(r.out.find("--check"), std::string::npos);
  EXPECT_NE(r.out.find("Exit status"), std::string::npos);
  EXPECT_NE(r.out.find("--retry-limit <n>"), std::string::npos);
  EXPECT_NE(r.out.find("(default 10; 0: no limit)"), std::string::npos);
  EXPECT_NE(r.out.find("whole session (default 0: no limit)"), std::string::npos);
  EXPECT_NE(r.out.find("--fixed-timeout"), std::string::npos);
  EXPECT_NE(r.out.find("--classic"), std::string::npos);
  EXPECT_NE(r.out.find("Long packets (up to 9024 bytes) and repeat-count compression"),
            std::string::npos);
  EXPECT_NE(r.out.find("Print nothing but errors"), std::string::npos);
  EXPECT_NE(r.out.find("0  every file listed was transferred complete"), std::string::npos);
  EXPECT_NE(r.out.find("no session started in time"), std::string::npos);
  EXPECT_NE(r.out.find("2  a usage error, a device that cannot be opened, or a directory"),
            std::string::npos);
  EXPECT_EQ(r.err, "");
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
    // Not a terminal: each file's progress ends in a plain line with the whole size.
    EXPECT_NE(r.err.find("one.bin  97.7 KiB of 97.7 KiB  100%"), std::string::npos) << r.err;
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
    EXPECT_EQ(cli.readAllStandardError().toStdString(), "") << "--quiet";
    EXPECT_EQ(cli.readAllStandardOutput().toStdString(), "") << "--quiet";
    EXPECT_EQ(ReadAll(back + "/one.bin"), ReadAll(src + "/one.bin"));
    EXPECT_EQ(ReadAll(back + "/two.txt"), ReadAll(src + "/two.txt"));
  }
}

// The longest block the program's log says it sent.
std::size_t LongestSent(const std::string& log) {
  std::size_t longest = 0;
  const std::string key = "DoDataSend: ";
  for (std::size_t at = log.find(key); at != std::string::npos; at = log.find(key, at + 1))
    longest = std::max<std::size_t>(longest, std::stoul(log.substr(at + key.size())));
  return longest;
}

TEST(KermitCli, OffersLongPacketsByDefaultAndClassicSpeaksTheBasicProtocol) {
  const std::string src = MakeTempDir("cli-long");
  WriteAll(src + "/big.bin", RandomBytes(200000, 5) + std::string(50000, '~'));
  for (const bool classic : {false, true}) {
    SCOPED_TRACE(classic ? "--classic" : "defaults");
    const std::string dst = MakeTempDir("cli-long-dst");
    const std::string log = dst + "/../" + (classic ? "classic" : "long") + ".log";
    SocatPair line;
    auto peer = KermitPeer::Receive(KermitPeer::CKermit, line.B(), dst, 60);
    QStringList args = {"send", "--log", QString::fromStdString(log), "--log-level", "debug"};
    if (classic) args << "--classic";
    args << QString::fromStdString(line.A()) << QString::fromStdString(src + "/big.bin");
    const CliRun r = RunCli(args);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(peer->Wait(20000));
    EXPECT_EQ(peer->ExitCode(), 0) << peer->Output();
    EXPECT_TRUE(ReadAll(dst + "/big.bin") == ReadAll(src + "/big.bin"));
    const std::size_t longest = LongestSent(ReadAll(log));
    if (classic)
      EXPECT_LE(longest, 97u);
    else
      EXPECT_GT(longest, 1000u);
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
  // No session within --wait is a failed transfer, reported even under --quiet.
  const CliRun nobody = RunCli(
      {"receive", "--wait", "1", QString::fromStdString(line.A()), QString::fromStdString(src)});
  EXPECT_EQ(nobody.code, 1);
  EXPECT_NE(nobody.err.find("no session started"), std::string::npos) << nobody.err;
  const CliRun nobodyQuiet =
      RunCli({"receive", "--quiet", "--wait", "1", QString::fromStdString(line.A()),
              QString::fromStdString(src)});
  EXPECT_EQ(nobodyQuiet.code, 1);
  EXPECT_EQ(nobodyQuiet.err, "vxkermit: no session started\n");
  // A peer that never answers: the error limit ends the send with status 1.
  WriteAll(src + "/a.txt", "abc");
  const CliRun silent =
      RunCli({"send", "--timeout", "1", "--error-limit", "1", QString::fromStdString(line.A()),
              QString::fromStdString(src + "/a.txt")});
  EXPECT_EQ(silent.code, 1);
  EXPECT_NE(silent.err.find("Too many errors."), std::string::npos) << silent.err;
}

TEST(KermitCli, ABadReceiveDirectoryIsAUsageErrorFoundBeforeTheLineIsOpened) {
  const std::string base = MakeTempDir("cli-dir");
  WriteAll(base + "/file", "x");
  // The device does not exist either: the directory is looked at first.
  const CliRun missing =
      RunCli({"receive", "/nonexistent/tty", QString::fromStdString(base + "/none")});
  EXPECT_EQ(missing.code, 2);
  EXPECT_EQ(missing.err,
            "vxkermit: cannot receive into " + base + "/none: No such file or directory\n");
  const CliRun file =
      RunCli({"receive", "/nonexistent/tty", QString::fromStdString(base + "/file")});
  EXPECT_EQ(file.code, 2);
  EXPECT_EQ(file.err, "vxkermit: cannot receive into " + base + "/file: Not a directory\n");
  // On a working line it does not listen first: it ends (a listening receiver never would).
  SocatPair line;
  const CliRun onLine = RunCli({"receive", "--quiet", QString::fromStdString(line.A()),
                                QString::fromStdString(base + "/none")},
                               30000);
  EXPECT_EQ(onLine.code, 2);
  EXPECT_EQ(onLine.err,
            "vxkermit: cannot receive into " + base + "/none: No such file or directory\n");
}

TEST(KermitCli, AReceiveDirectoryThatCannotBeWrittenIsAUsageError) {
  const std::string dir = MakeTempDir("cli-rodir");
  SocatPair line;
  CliRun r;
  if (geteuid() != 0) {
    ASSERT_EQ(::chmod(dir.c_str(), 0555), 0);
    r = RunCli({"receive", QString::fromStdString(line.A()), QString::fromStdString(dir)}, 30000);
    ::chmod(dir.c_str(), 0755);
    EXPECT_EQ(r.err, "vxkermit: cannot receive into " + dir + ": Permission denied\n");
  } else {
    // Permissions do not stop root; a read-only mount of the directory does.
    QProcess p;
    p.start("unshare",
            {"-m", "sh", "-c",
             "mount --bind -o ro \"$1\" \"$1\" || exit 99; exec \"$0\" receive \"$2\" \"$1\"",
             VXKERMIT_BIN, QString::fromStdString(dir), QString::fromStdString(line.A())});
    ASSERT_TRUE(p.waitForStarted(5000));
    ASSERT_TRUE(p.waitForFinished(30000));
    r.code = p.exitCode();
    r.err = p.readAllStandardError().toStdString();
    if (r.code == 99) GTEST_SKIP() << "no private mount for a read-only directory: " << r.err;
    EXPECT_EQ(r.err, "vxkermit: cannot receive into " + dir + ": Read-only file system\n");
  }
  EXPECT_EQ(r.code, 2);
}

TEST(KermitCli, BadOptionValuesAreUsageErrors) {
  const std::string dir = MakeTempDir("cli-options");
  const QStringList bad[] = {
      {"--retry-limit", "-1"},
      {"--retry-limit", "x"},
      {"--error-limit", "-5"},
      {"--error-limit", ""},
      {"--timeout", "0"},
      {"--timeout", "61"},
      {"--speed", "10"},
      {"--data-bits", "9"},
      {"--wait", "-1"},
      {"--packet-length", "94"},
      {"--packet-length", "9025"},
      {"--parity", "weird"},
      {"--flow", "rts"},
      {"--log-level", "loud"},
      {"--collision", "keep"},
      {"--bogus"},
      {"--check=0"},
      {"-x"},
  };
  for (const QStringList& options : bad) {
    QStringList args = {"receive"};
    args << options << "/nonexistent/tty" << QString::fromStdString(dir);
    const CliRun r = RunCli(args);
    EXPECT_EQ(r.code, 2) << options.join(' ').toStdString() << "\n" << r.err;
    EXPECT_EQ(r.err.rfind("vxkermit: ", 0), 0u) << r.err;
    EXPECT_EQ(r.err.find("cannot open"), std::string::npos) << "the line was not tried";
    EXPECT_EQ(r.out, "");
  }
  // An option without its value.
  const CliRun noValue = RunCli({"receive", "/nonexistent/tty", "--speed"});
  EXPECT_EQ(noValue.code, 2);
  EXPECT_NE(noValue.err.find("--speed"), std::string::npos) << noValue.err;
  // Zero is a value: no limit.
  const CliRun zero = RunCli({"receive", "--retry-limit", "0", "--error-limit", "0",
                              "/nonexistent/tty", QString::fromStdString(dir)});
  EXPECT_EQ(zero.code, 2);
  EXPECT_NE(zero.err.find("cannot open /nonexistent/tty"), std::string::npos) << zero.err;
}

TEST(KermitCli, QuietPrintsNothingOnSuccess) {
  const std::string src = MakeTempDir("cli-quiet-src"), dst = MakeTempDir("cli-quiet-dst");
  WriteAll(src + "/data.bin", RandomBytes(30000, 7));
  SocatPair line;
  auto peer = KermitPeer::Receive(KermitPeer::CKermit, line.B(), dst, 30);
  // A Send-Init that reaches the peer before it has opened its line is lost; a short
  // time-out repeats it sooner.
  const CliRun r = RunCli({"send", "--quiet", "--timeout", "2", QString::fromStdString(line.A()),
                           QString::fromStdString(src + "/data.bin")});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, "");
  EXPECT_TRUE(peer->Wait(10000));
  EXPECT_EQ(ReadAll(dst + "/data.bin"), ReadAll(src + "/data.bin"));
}

TEST(KermitCli, TheRetryLimitEndsASendToASilentPeer) {
  const std::string src = MakeTempDir("cli-retry");
  WriteAll(src + "/a.txt", "abc");
  SocatPair line;
  // No session limit by default: the packet's own limit ends it.
  const CliRun r =
      RunCli({"send", "--quiet", "--timeout", "1", "--retry-limit", "2",
              QString::fromStdString(line.A()), QString::fromStdString(src + "/a.txt")});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err,
            "vxkermit: transfer failed: Too many retries.\n"
            "vxkermit: 1 file listed: 0 sent complete, 0 skipped, 1 failed\n");
}

TEST(KermitCli, ANameThatIsNotUtf8CrossesTheLineAsItsBytes) {
  const std::string src = MakeTempDir("cli-raw-src"), dst = MakeTempDir("cli-raw-dst");
  const std::string name = "caf\xe9.txt";  // Latin-1: no QString, so no argument, holds it
  WriteAll(src + "/" + name, "latin-1");
  SocatPair line;
  QProcess receiver;
  ASSERT_TRUE(StartReceiver(
      receiver, {"receive", QString::fromStdString(line.B()), QString::fromStdString(dst)}));
  const CliRun sent = RunCli({"send", "--quiet", QString::fromStdString(line.A()),
                              QString::fromStdString(src + "/caf?.txt")});
  EXPECT_EQ(sent.code, 0) << sent.err;
  EXPECT_TRUE(receiver.state() == QProcess::NotRunning || receiver.waitForFinished(10000));
  EXPECT_EQ(receiver.exitCode(), 0) << receiver.readAllStandardError().toStdString();
  EXPECT_EQ(EntriesOf(dst), (std::vector<std::string>{name}));
  EXPECT_EQ(ReadAll(dst + "/" + name), "latin-1");
}

TEST(KermitCli, ASevenBitLineCarriesEveryByteValue) {
  const std::string src = MakeTempDir("cli-7bit-src"), dst = MakeTempDir("cli-7bit-dst");
  WriteAll(src + "/all.bin", EveryByte(4));
  SocatPair line;
  auto peer = KermitPeer::Receive(KermitPeer::CKermit, line.B(), dst, 30);
  const CliRun r =
      RunCli({"send", "--quiet", "--timeout", "2", "--data-bits", "7",
              QString::fromStdString(line.A()), QString::fromStdString(src + "/all.bin")});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(peer->Wait(10000));
  EXPECT_EQ(ReadAll(dst + "/all.bin"), ReadAll(src + "/all.bin"));
}

TEST(KermitCli, AFileTheReceiverRefusesIsNotTransferred) {
  const std::string src = MakeTempDir("cli-skip-src"), dst = MakeTempDir("cli-skip-dst");
  WriteAll(src + "/f.txt", "new");
  WriteAll(dst + "/f.txt", "old");
  SocatPair line;
  auto peer =
      KermitPeer::Receive(KermitPeer::CKermit, line.B(), dst, 30, "set file collision discard");
  const CliRun r = RunCli({"send", "--quiet", "--timeout", "2", QString::fromStdString(line.A()),
                           QString::fromStdString(src + "/f.txt")});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err,
            "vxkermit: transfer failed: 1 of 1 file refused by the receiver\n"
            "vxkermit: 1 file listed: 0 sent complete, 1 skipped, 0 failed\n");
  EXPECT_TRUE(peer->Wait(10000));
  EXPECT_EQ(ReadAll(dst + "/f.txt"), "old");
}

// Every name given is a file of the batch: one that cannot be sent (a line break in it, blanks
// at its ends) is an error of its own, said and counted, and the rest are sent.
TEST(KermitCli, ANameThatCannotBeSentIsAnErrorOfTheBatch) {
  const std::string src = MakeTempDir("cli-names-src"), dst = MakeTempDir("cli-names-dst");
  const std::string broken = src + "/new\nline.txt", blanks = src + "/   ";
  WriteAll(broken, "broken");
  WriteAll(blanks, "blanks");
  WriteAll(src + "/other.txt", "other");
  SocatPair line;
  auto peer = KermitPeer::Receive(KermitPeer::CKermit, line.B(), dst, 30);
  const CliRun r = RunCli({"send", "--quiet", QString::fromStdString(line.A()), "--",
                           QString::fromStdString(broken), QString::fromStdString(blanks),
                           QString::fromStdString(src + "/other.txt")});
  EXPECT_EQ(r.code, 1) << r.err;
  EXPECT_NE(r.err.find("vxkermit: cannot send \"" + src +
                       "/new\\nline.txt\": a name with a line break\n"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("vxkermit: cannot send \"" + src +
                       "/   \": a name that begins or ends with a blank\n"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("vxkermit: transfer failed: 2 of 3 files could not be sent\n"
                       "vxkermit: 3 files listed: 1 sent complete, 0 skipped, 2 failed\n"),
            std::string::npos)
      << r.err;
  EXPECT_TRUE(peer->Wait(10000));
  EXPECT_EQ(ReadAll(dst + "/other.txt"), "other");
}

// With long packets agreed a name crosses whole, up to the file system's 255 bytes; with
// classic packets it is cut in its stem to what one packet holds (at most 90 bytes).
TEST(KermitCli, ALongNameCrossesWholeWhenLongPacketsAreAgreed) {
  const std::string src = MakeTempDir("cli-long-src"), dst = MakeTempDir("cli-long-dst"),
                    cut = MakeTempDir("cli-long-cut");
  const std::string name = std::string(246, 'n') + ".txt";
  WriteAll(src + "/" + name, "long");
  {
    SocatPair line;
    auto peer = KermitPeer::Receive(KermitPeer::CKermit, line.B(), dst, 30);
    const CliRun r = RunCli(
        {"send", QString::fromStdString(line.A()), QString::fromStdString(src + "/" + name)});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(peer->Wait(10000));
    EXPECT_EQ(EntriesOf(dst), std::vector<std::string>{name});
    EXPECT_EQ(ReadAll(dst + "/" + name), "long");
  }
  SocatPair line;
  auto peer = KermitPeer::Receive(KermitPeer::CKermit, line.B(), cut, 30);
  const CliRun r = RunCli({"send", "--classic", QString::fromStdString(line.A()),
                           QString::fromStdString(src + "/" + name)});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(peer->Wait(10000));
  const std::vector<std::string> stored = EntriesOf(cut);
  ASSERT_EQ(stored.size(), 1u);
  EXPECT_LE(stored[0].size(), TvxKermit::MaxFileNameLength);
  EXPECT_EQ(stored[0], std::string(stored[0].size() - 4, 'n') + ".txt");
}

// A file's date crosses with it both ways (with --classic it does not), and its exact length
// is announced: ckermit, told the exact length, keeps it as the file's size in its log.
TEST(KermitCli, FileDatesCrossBothWaysAndClassicLeavesThemOut) {
  const std::string src = MakeTempDir("cli-src"), dst = MakeTempDir("cli-dst"),
                    back = MakeTempDir("cli-back"), plain = MakeTempDir("cli-plain");
  const std::int64_t then = 981173106;  // 2001-02-03 04:05:06 UTC
  WriteAll(src + "/dated.bin", RandomBytes(30000, 5));
  ASSERT_TRUE(vxSetFileModifiedTime(src + "/dated.bin", then));
  {
    SocatPair line;
    auto peer = KermitPeer::Receive(KermitPeer::CKermit, line.B(), dst, 30);
    const CliRun r = RunCli(
        {"send", QString::fromStdString(line.A()), QString::fromStdString(src + "/dated.bin")});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(peer->Wait(10000));
    EXPECT_EQ(ReadAll(dst + "/dated.bin"), ReadAll(src + "/dated.bin"));
    EXPECT_EQ(vxFileModifiedTime(dst + "/dated.bin"), then) << "ckermit took our date";
  }
  for (const bool classic : {false, true}) {
    SCOPED_TRACE(classic ? "--classic" : "defaults");
    const std::string into = classic ? plain : back;
    SocatPair line;
    QProcess cli;
    QStringList args = {"receive", QString::fromStdString(line.A()), QString::fromStdString(into)};
    if (classic) args.insert(1, "--classic");
    ASSERT_TRUE(StartReceiver(cli, args));
    auto peer = KermitPeer::Send(KermitPeer::CKermit, line.B(), {src + "/dated.bin"}, src, 30);
    EXPECT_TRUE(peer->Wait(30000));
    EXPECT_TRUE(cli.state() == QProcess::NotRunning || cli.waitForFinished(10000));
    EXPECT_EQ(cli.exitCode(), 0);
    EXPECT_EQ(ReadAll(into + "/dated.bin"), ReadAll(src + "/dated.bin"));
    if (classic)
      EXPECT_GT(vxFileModifiedTime(into + "/dated.bin"), then + 86400)
          << "the date stays the arrival's";
    else
      EXPECT_EQ(vxFileModifiedTime(into + "/dated.bin"), then) << "we took ckermit's date";
  }
}

TEST(KermitCli, ResendIsDocumentedAndClassicRefusesIt) {
  const CliRun help = RunCli({"--help"});
  EXPECT_NE(help.out.find("vxkermit resend [options] DEVICE MASK..."), std::string::npos)
      << help.out;
  EXPECT_NE(help.out.find("Recovery is offered too"), std::string::npos);
  const CliRun classic = RunCli({"resend", "--classic", "/nonexistent/tty", "/etc/hostname"});
  EXPECT_EQ(classic.code, 2) << classic.err;
  EXPECT_NE(classic.err.find("resend needs recovery"), std::string::npos) << classic.err;
  EXPECT_EQ(classic.err.find("cannot open"), std::string::npos) << "the line was not tried";
  EXPECT_EQ(RunCli({"resend", "/nonexistent/tty"}).code, 2);
}

namespace {

// The file bytes ckermit says it moved, from "FILEBYTES n" in its output; -1 when missing.
long long CKermitFileBytes(const std::string& output) {
  const std::size_t at = output.find("FILEBYTES ");
  return at == std::string::npos ? -1 : std::atoll(output.c_str() + at + 10);
}

std::int64_t FileSize(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? static_cast<std::int64_t>(st.st_size) : -1;
}

constexpr const char* kCKermitReport = "if fail exit 1, echo FILEBYTES \\v(tfsize)";

}  // namespace

// Our resend to ckermit, which holds the first 60000 bytes: only the rest crosses (ckermit
// counts 40000 file bytes), and the progress shows those 40000, not the whole file.
TEST(KermitCli, ResendToCKermitSendsOnlyTheRest) {
  const std::string src = MakeTempDir("cli-resend-src"), dst = MakeTempDir("cli-resend-dst");
  const std::string bytes = RandomBytes(100000, 41);
  WriteAll(src + "/part.bin", bytes);
  WriteAll(dst + "/part.bin", bytes.substr(0, 60000));
  SocatPair line;
  auto peer = KermitPeer::CKermitRun(line.B(), dst, 30, "set file incomplete keep",
                                     std::string("receive, ") + kCKermitReport);
  const CliRun r = RunCli({"resend", "--timeout", "2", QString::fromStdString(line.A()),
                           QString::fromStdString(src + "/part.bin")});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(peer->Wait(10000));
  EXPECT_EQ(peer->ExitCode(), 0) << peer->Output();
  EXPECT_TRUE(ReadAll(dst + "/part.bin") == bytes);
  EXPECT_EQ(CKermitFileBytes(peer->Output()), 40000) << peer->Output();
  EXPECT_NE(r.err.find("from byte 60000"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("part.bin  39.1 KiB of 39.1 KiB  100%"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("vxkermit: 1 file sent"), std::string::npos) << r.err;
}

// Our receiver killed half-way (SIGKILL, nothing tidied up), then ckermit's resend to a new
// one: the file ends identical and ckermit moved only what the killed receiver lacked.
TEST(KermitCli, AReceiverKilledHalfWayIsCompletedByCKermitsResend) {
  const std::string src = MakeTempDir("cli-kill-src"), dst = MakeTempDir("cli-kill-dst");
  const std::string bytes = RandomBytes(8 * 1024 * 1024 + 5, 43);
  WriteAll(src + "/big.bin", bytes);
  const std::string target = dst + "/big.bin";
  const std::string longPackets = "set send packet-length 9024, set block-check 3";
  SocatPair line;
  const QStringList receive = {"receive", QString::fromStdString(line.A()),
                               QString::fromStdString(dst)};
  {
    QProcess cli;
    ASSERT_TRUE(StartReceiver(cli, receive));
    auto peer =
        KermitPeer::Send(KermitPeer::CKermit, line.B(), {src + "/big.bin"}, src, 60, longPackets);
    // Hidden until complete, and left there by a receiver that could not tidy up.
    const std::string partName = dst + "/.big.bin.vxpart";
    ASSERT_TRUE(WaitUntil([&] { return FileSize(partName) >= 2 * 1024 * 1024; }, 60000));
    cli.kill();
    ASSERT_TRUE(cli.waitForFinished(5000));
    peer->Kill();
  }
  EXPECT_FALSE(Exists(target));
  const std::int64_t part = FileSize(dst + "/.big.bin.vxpart");
  ASSERT_GT(part, 0);
  ASSERT_LT(part, static_cast<std::int64_t>(bytes.size()));
  ASSERT_TRUE(ReadAll(dst + "/.big.bin.vxpart") == bytes.substr(0, static_cast<std::size_t>(part)));

  QProcess cli;
  ASSERT_TRUE(StartReceiver(cli, receive));
  auto peer = KermitPeer::CKermitRun(line.B(), src, 60, longPackets,
                                     "resend " + src + "/big.bin, " + kCKermitReport);
  EXPECT_TRUE(peer->Wait(60000));
  EXPECT_EQ(peer->ExitCode(), 0) << peer->Output();
  EXPECT_TRUE(cli.state() == QProcess::NotRunning || cli.waitForFinished(10000));
  EXPECT_EQ(cli.exitCode(), 0);
  const std::string err = cli.readAllStandardError().toStdString();
  EXPECT_TRUE(ReadAll(target) == bytes);
  EXPECT_EQ(CKermitFileBytes(peer->Output()), static_cast<long long>(bytes.size()) - part)
      << peer->Output();
  EXPECT_NE(err.find("from byte " + std::to_string(part)), std::string::npos) << err;
  std::printf("vxkermit killed at %lld of %zu bytes; ckermit resent %lld\n",
              static_cast<long long>(part), bytes.size(), CKermitFileBytes(peer->Output()));
}

// The line's far end killed while ckermit sends (socat gone: the pty's other side with
// it): vxkermit names the device and the system's reason, ends with status 1, and reports
// nothing received; the interrupted file is not there under its name.
TEST(KermitCli, ADeviceThatGoesAwayMidTransferIsReportedWithItsReason) {
  const std::string src = MakeTempDir("cli-lost-src"), dst = MakeTempDir("cli-lost-dst");
  WriteAll(src + "/big.bin", RandomBytes(8 * 1024 * 1024, 47));
  auto line = std::make_unique<SocatPair>();
  const std::string device = line->A();
  QProcess cli;
  ASSERT_TRUE(
      StartReceiver(cli, {"receive", QString::fromStdString(device), QString::fromStdString(dst)}));
  auto peer = KermitPeer::Send(KermitPeer::CKermit, line->B(), {src + "/big.bin"}, src, 60);
  ASSERT_TRUE(WaitUntil([&] { return FileSize(dst + "/.big.bin.vxpart") > 0; }, 60000));
  line.reset();
  ASSERT_TRUE(WaitForEnd(cli, 30000));
  peer->Kill();
  EXPECT_EQ(cli.exitCode(), 1);
  const std::string err = cli.readAllStandardError().toStdString();
  const std::string said = "vxkermit: transfer failed: " + device + " went away: ";
  const std::size_t at = err.find(said);
  ASSERT_NE(at, std::string::npos) << err;
  const std::size_t from = at + said.size();
  const std::string reason = err.substr(from, err.find('\n', from) - from);
  bool known = false;
  for (int code = 1; code < 134; ++code) known = known || reason == std::strerror(code);
  EXPECT_TRUE(known) << "not a system error's text: " << reason;
  EXPECT_NE(err.find("1 file begun: 0 received complete"), std::string::npos) << err;
  EXPECT_EQ(err.find("file received"), std::string::npos) << err;
  EXPECT_EQ(err.find("files received"), std::string::npos) << err;
  EXPECT_FALSE(Exists(dst + "/big.bin"));
}

// Received by the program from ckermit into a directory holding an old file and a link: by
// default the old file is kept as a backup, the link refuses that one file (the session goes
// on, the status says it was not received); --collision overwrite replaces the old file.
TEST(KermitCli, ReceivedFilesKeepOldOnesAndNeverGoThroughALink) {
  const std::string src = MakeTempDir("cli-coll-src"), outside = MakeTempDir("cli-coll-out");
  WriteAll(src + "/one.bin", RandomBytes(30000, 51));
  WriteAll(src + "/link.bin", RandomBytes(3000, 52));
  WriteAll(src + "/two.bin", RandomBytes(20000, 53));
  WriteAll(outside + "/target.bin", "outside");
  for (const bool overwrite : {false, true}) {
    SCOPED_TRACE(overwrite ? "overwrite" : "default");
    const std::string dst = MakeTempDir("cli-coll-dst");
    WriteAll(dst + "/one.bin", "old");
    ASSERT_EQ(::symlink((outside + "/target.bin").c_str(), (dst + "/link.bin").c_str()), 0);
    SocatPair line;
    QStringList args = {"receive", QString::fromStdString(line.A()), QString::fromStdString(dst)};
    if (overwrite)
      args << "--collision"
           << "overwrite";
    QProcess cli;
    ASSERT_TRUE(StartReceiver(cli, args));
    auto peer = KermitPeer::Send(KermitPeer::CKermit, line.B(),
                                 PathsIn(src, {"one.bin", "link.bin", "two.bin"}), src, 30);
    EXPECT_TRUE(peer->Wait(30000));
    EXPECT_EQ(peer->ExitCode(), 0) << peer->Output();
    EXPECT_TRUE(cli.state() == QProcess::NotRunning || cli.waitForFinished(10000));
    EXPECT_EQ(cli.exitCode(), 1);
    const std::string err = cli.readAllStandardError().toStdString();
    EXPECT_NE(err.find("vxkermit: transfer failed: 1 of 3 files not kept\n"), std::string::npos)
        << err;
    EXPECT_NE(err.find(": discarded (" + dst + "/link.bin is a symbolic link"), std::string::npos)
        << err;
    EXPECT_TRUE(ReadAll(dst + "/one.bin") == ReadAll(src + "/one.bin"));
    EXPECT_TRUE(ReadAll(dst + "/two.bin") == ReadAll(src + "/two.bin"));
    EXPECT_EQ(ReadAll(outside + "/target.bin"), "outside");
    const std::vector<std::string> kept =
        overwrite ? std::vector<std::string>{"link.bin", "one.bin", "two.bin"}
                  : std::vector<std::string>{"link.bin", "one.bin", "one.bin.~1~", "two.bin"};
    EXPECT_EQ(EntriesOf(dst), kept);
    if (!overwrite) {
      EXPECT_EQ(ReadAll(dst + "/one.bin.~1~"), "old");
    }
  }
}

// A full disk: the program says why, with the system's words, and nothing is left.
TEST(KermitCli, AFullDiskIsReportedWithItsReason) {
  const std::string src = MakeTempDir("cli-full-src");
  WriteAll(src + "/big.bin", RandomBytes(512 * 1024, 54));
  const SmallDisk disk(64 * 1024);
  SocatPair line;
  QProcess cli;
  ASSERT_TRUE(StartReceiver(
      cli, {"receive", QString::fromStdString(line.A()), QString::fromStdString(disk.Path())}));
  auto peer = KermitPeer::Send(KermitPeer::CKermit, line.B(), {src + "/big.bin"}, src, 30);
  EXPECT_TRUE(peer->Wait(30000));
  EXPECT_NE(peer->ExitCode(), 0) << peer->Output();
  EXPECT_TRUE(cli.state() == QProcess::NotRunning || cli.waitForFinished(10000));
  EXPECT_EQ(cli.exitCode(), 1);
  const std::string err = cli.readAllStandardError().toStdString();
  EXPECT_NE(err.find("vxkermit: transfer failed: Stream write error: \"" + disk.Path() +
                     "/big.bin\". " + disk.Reason()),
            std::string::npos)
      << err;
  EXPECT_EQ(err.find("Unknown error"), std::string::npos);
  EXPECT_TRUE(EntriesOf(disk.Path()).empty());
}

// A --log file that cannot be written is said once and the send is whole; without --log
// no file is left beside the program (a copy in a folder of its own).
TEST(KermitCli, ALogFileThatCannotBeWrittenIsReportedOnceAndTheSendGoesOn) {
  const std::string src = MakeTempDir("cli-logsrc"), dst = MakeTempDir("cli-logdst"),
                    bin = MakeTempDir("cli-logbin");
  WriteAll(src + "/one.bin", RandomBytes(60000, 41));
  WriteAll(src + "/two.bin", RandomBytes(9000, 42));
  WriteAll(bin + "/blocker", "a file, not a folder");
  const std::string program = bin + "/vxkermit";
  ASSERT_EQ(::system(("cp " + std::string(VXKERMIT_BIN) + " " + program).c_str()), 0);
  {
    SocatPair line;
    auto peer = KermitPeer::Receive(KermitPeer::CKermit, line.B(), dst, 30);
    const CliRun r =
        RunProgram(QString::fromStdString(program),
                   {"send", "--log", QString::fromStdString(bin + "/blocker/cli.log"),
                    QString::fromStdString(line.A()), QString::fromStdString(src + "/*")},
                   60000);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(peer->Wait(10000));
    EXPECT_EQ(ReadAll(dst + "/one.bin"), ReadAll(src + "/one.bin"));
    EXPECT_EQ(ReadAll(dst + "/two.bin"), ReadAll(src + "/two.bin"));
    std::size_t reports = 0;
    for (std::size_t at = r.err.find("Error when save log file:"); at != std::string::npos;
         at = r.err.find("Error when save log file:", at + 1))
      ++reports;
    EXPECT_EQ(reports, 1u) << r.err;
  }
  {
    SocatPair line;
    auto peer = KermitPeer::Receive(KermitPeer::CKermit, line.B(), dst, 30);
    const CliRun r = RunProgram(QString::fromStdString(program),
                                {"send", "--quiet", QString::fromStdString(line.A()),
                                 QString::fromStdString(src + "/one.bin")},
                                60000);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(peer->Wait(10000));
  }
  for (const auto& entry : std::filesystem::directory_iterator(bin))
    EXPECT_NE(entry.path().extension(), ".log") << entry.path();
}
