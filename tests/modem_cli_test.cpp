// The vxmodem program as a user runs it, against the standard XMODEM, YMODEM and ZMODEM
// programs (rx, sx, rb, sb, rz, sz) run as black boxes on the other end of a socat pty pair,
// and against itself for YMODEM-g and ZMODEM: a file reported received is the one sent (XMODEM: up
// to its SUB padding), bad command lines end with status 2 before anything is created, and a peer
// that vanishes mid-transfer ends it with status 1 and nothing left under the file's name.
#include <gtest/gtest.h>

#include <signal.h>

#include <QFileInfo>
#include <QProcess>
#include <fstream>
#include <iostream>

#include "support/kermitfiles.h"
#include "support/linepeer.h"
#include "support/programrun.h"
#include "support/ptypair.h"
#include "support/socatpair.h"
#include "support/xmodemside.h"

using namespace kermitfiles;

namespace {

QString Q(const std::string& s) {
  return QString::fromStdString(s);
}

ProgramRun RunCli(const QStringList& args) {
  return RunProgram(VXMODEM_BIN, args, 120000);
}

// The process the line peer's shell runs under "timeout": the standard program itself.
pid_t PeerProgram(const QProcess& peer) {
  const auto pid = peer.processId();
  std::ifstream children("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) +
                         "/children");
  pid_t child = 0;
  children >> child;
  return child;
}

// Bytes of the size given, never ending in SUB, so that stripped padding leaves them whole.
std::string Payload(std::size_t size, unsigned seed) {
  std::string bytes = RandomBytes(size, seed);
  bytes.back() = 'x';
  return bytes;
}

// Peer ended with status 0, and the run of ours beside it succeeded, saying Summary.
void ExpectBothSucceeded(QProcess& peer, const ProgramRun& r, const std::string& summary) {
  ASSERT_TRUE(LinePeerExited(peer));
  EXPECT_EQ(peer.exitCode(), 0);
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.err.find("vxmodem: " + summary), std::string::npos) << r.err;
}

// A YMODEM batch written into Dir: data.bin of random bytes (returned) and the empty
// empty.bin.
std::string WriteBatch(const std::string& dir, unsigned seed) {
  const std::string data = RandomBytes(100000, seed);
  WriteAll(dir + "/data.bin", data);
  WriteAll(dir + "/empty.bin", "");
  return data;
}

// Dir holds the batch of WriteBatch, byte for byte under its names, and nothing else.
void ExpectBatch(const std::string& dir, const std::string& data) {
  EXPECT_TRUE(ReadAll(dir + "/data.bin") == data);
  EXPECT_EQ(ReadAll(dir + "/empty.bin"), "");
  EXPECT_EQ(EntriesOf(dir), (std::vector<std::string>{"data.bin", "empty.bin"}));
}

struct XCase {
  bool block1k;
  bool crc;
};

class ModemCliXModem : public ::testing::TestWithParam<XCase> {};

std::string XCaseName(const ::testing::TestParamInfo<XCase>& info) {
  return std::string(info.param.block1k ? "k1" : "b128") + (info.param.crc ? "_crc" : "_sum");
}

}  // namespace

TEST(ModemCli, HelpSaysWhatXModemCannotPromise) {
  const ProgramRun r = RunCli({"--help"});
  EXPECT_EQ(r.code, 0);
  EXPECT_NE(r.out.find("vxmodem send [options] DEVICE FILE..."), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("The protocol\nis YMODEM unless --protocol xmodem"), std::string::npos);
  EXPECT_NE(r.out.find("SUB (0x1A)"), std::string::npos);
  EXPECT_NE(r.out.find("also removes SUB bytes that really ended the file"), std::string::npos);
  EXPECT_NE(r.out.find("success never\npromises an exact copy"), std::string::npos);
  EXPECT_NE(r.out.find("--strip-padding"), std::string::npos);
  EXPECT_NE(r.out.find("-g, --streaming"), std::string::npos);
  EXPECT_NE(r.out.find("ZMODEM (--protocol zmodem)"), std::string::npos) << r.out;
  EXPECT_EQ(RunCli({"--version"}).out.rfind("vxmodem ", 0), 0u);
}

// rx asks with 'C' under -c, else with NAK: the sender follows either.
TEST_P(ModemCliXModem, SendsToRx) {
  const XCase xc = GetParam();
  SocatPair line;
  const std::string src = MakeTempDir("mc-rx-src"), dst = MakeTempDir("mc-rx-dst");
  const std::string sent = RandomBytes(100000, 7);
  WriteAll(src + "/out.bin", sent);
  QProcess rx;
  StartLinePeer(rx, std::string("rx -b -q ") + (xc.crc ? "-c " : "") + "out.bin", line.B(), dst);
  QStringList args = {"send", "--protocol", "xmodem", "--timeout", "3", "--retry-limit", "4"};
  if (xc.block1k) args << "--1k";
  const ProgramRun r = RunCli(args << Q(line.A()) << Q(src + "/out.bin"));
  ASSERT_TRUE(LinePeerExited(rx));
  ASSERT_EQ(rx.exitCode(), 0) << r.err;
  EXPECT_TRUE(SentUpToPadding(sent, ReadAll(dst + "/out.bin"), xc.block1k ? 1024 : 128));
  // rx may exit before its ACK of the EOT leaves the line (see xmodem_peer_test): the send
  // then fails, though every block crossed; it never reports success without that ACK.
  if (r.code == 0) {
    EXPECT_NE(r.err.find("vxmodem: 1 file sent"), std::string::npos) << r.err;
  } else {
    EXPECT_EQ(r.code, 1) << r.err;
    EXPECT_NE(r.err.find("vxmodem: transfer failed: Too many retries."), std::string::npos)
        << r.err;
    std::cout << "rx's last ACK lost\n";
  }
}

// sx sends what its receiver asks for; with --strip-padding the file arrives whole.
TEST_P(ModemCliXModem, ReceivesFromSx) {
  const XCase xc = GetParam();
  SocatPair line;
  const std::string src = MakeTempDir("mc-sx-src"), dst = MakeTempDir("mc-sx-dst");
  const std::string sent = Payload(100000, 8);
  WriteAll(src + "/in.bin", sent);
  QProcess sx;
  StartLinePeer(sx, std::string("sx -b -q ") + (xc.block1k ? "-k " : "") + "in.bin", line.B(), src);
  QStringList args = {"receive", "--protocol", "xmodem", "--timeout", "3"};
  // The sum asked for with 128-byte blocks; CRC-16 (the default) and stripped padding with 1K.
  args << (xc.crc ? "--strip-padding" : "--sum");
  const ProgramRun r = RunCli(args << Q(line.A()) << Q(dst + "/got.bin"));
  ExpectBothSucceeded(sx, r, "1 file received");
  const std::string got = ReadAll(dst + "/got.bin");
  if (xc.crc)
    EXPECT_TRUE(got == sent) << got.size() << " bytes for " << sent.size();
  else
    EXPECT_TRUE(SentUpToPadding(sent, got, xc.block1k ? 1024 : 128));
  EXPECT_EQ(EntriesOf(dst), std::vector<std::string>{"got.bin"});
}

INSTANTIATE_TEST_SUITE_P(Modes, ModemCliXModem,
                         ::testing::Values(XCase{false, false}, XCase{true, true}), XCaseName);

TEST(ModemCli, SendsAYModemBatchToRb) {
  SocatPair line;
  const std::string src = MakeTempDir("mc-rb-src"), dst = MakeTempDir("mc-rb-dst");
  const std::string data = WriteBatch(src, 9);
  QProcess rb;
  StartLinePeer(rb, "rb -q", line.B(), dst);
  const ProgramRun r =
      RunCli({"send", "--timeout", "3", Q(line.A()), Q(src + "/data.bin"), Q(src + "/empty.bin")});
  ExpectBothSucceeded(rb, r, "2 files sent");
  ExpectBatch(dst, data);
}

TEST(ModemCli, ReceivesAYModemBatchFromSb) {
  SocatPair line;
  const std::string src = MakeTempDir("mc-sb-src"), dst = MakeTempDir("mc-sb-dst");
  const std::string data = WriteBatch(src, 10);
  QProcess sb;
  StartLinePeer(sb, "sb -q data.bin empty.bin", line.B(), src);
  const ProgramRun r = RunCli({"receive", "--timeout", "3", Q(line.A()), Q(dst)});
  ExpectBothSucceeded(sb, r, "2 files received");
  ExpectBatch(dst, data);
}

TEST(ModemCli, StreamsYModemGToItself) {
  SocatPair line;
  const std::string src = MakeTempDir("mc-g-src"), dst = MakeTempDir("mc-g-dst");
  const std::string data = RandomBytes(300000, 11);
  WriteAll(src + "/g.bin", data);
  QProcess receiver;
  ASSERT_TRUE(StartWithOpenLine(receiver, VXMODEM_BIN, {"receive", "-g", Q(line.A()), Q(dst)}));
  const ProgramRun sender = RunCli({"send", Q(line.B()), Q(src + "/g.bin")});
  EXPECT_EQ(sender.code, 0) << sender.err;
  ASSERT_TRUE(WaitForEnd(receiver, 30000));
  const std::string err = receiver.readAllStandardError().toStdString();
  EXPECT_EQ(receiver.exitCode(), 0) << err;
  EXPECT_NE(err.find("vxmodem: 1 file received"), std::string::npos) << err;
  EXPECT_TRUE(ReadAll(dst + "/g.bin") == data);
  EXPECT_EQ(EntriesOf(dst), std::vector<std::string>{"g.bin"});
}

TEST(ModemCli, SendsAZModemBatchToRz) {
  SocatPair line;
  const std::string src = MakeTempDir("mc-rz-src"), dst = MakeTempDir("mc-rz-dst");
  const std::string data = WriteBatch(src, 14);
  QProcess rz;
  StartLinePeer(rz, "rz -q", line.B(), dst);
  const ProgramRun r = RunCli({"send", "--protocol", "zmodem", "--timeout", "3", Q(line.A()),
                               Q(src + "/data.bin"), Q(src + "/empty.bin")});
  ExpectBothSucceeded(rz, r, "2 files sent");
  ExpectBatch(dst, data);
}

TEST(ModemCli, ReceivesAZModemBatchFromSz) {
  SocatPair line;
  const std::string src = MakeTempDir("mc-sz-src"), dst = MakeTempDir("mc-sz-dst");
  const std::string data = WriteBatch(src, 15);
  QProcess sz;
  StartLinePeer(sz, "sz -q data.bin empty.bin", line.B(), src);
  const ProgramRun r =
      RunCli({"receive", "--protocol", "zmodem", "--timeout", "3", Q(line.A()), Q(dst)});
  ExpectBothSucceeded(sz, r, "2 files received");
  ExpectBatch(dst, data);
}

TEST(ModemCli, SendsZModemToItself) {
  SocatPair line;
  const std::string src = MakeTempDir("mc-z-src"), dst = MakeTempDir("mc-z-dst");
  const std::string data = RandomBytes(300000, 16);
  WriteAll(src + "/z.bin", data);
  QProcess receiver;
  ASSERT_TRUE(StartWithOpenLine(receiver, VXMODEM_BIN,
                                {"receive", "--protocol", "zmodem", Q(line.A()), Q(dst)}));
  const ProgramRun sender =
      RunCli({"send", "--protocol", "zmodem", Q(line.B()), Q(src + "/z.bin")});
  EXPECT_EQ(sender.code, 0) << sender.err;
  EXPECT_NE(sender.err.find("vxmodem: 1 file sent"), std::string::npos) << sender.err;
  ASSERT_TRUE(WaitForEnd(receiver, 30000));
  const std::string err = receiver.readAllStandardError().toStdString();
  EXPECT_EQ(receiver.exitCode(), 0) << err;
  EXPECT_NE(err.find("vxmodem: 1 file received"), std::string::npos) << err;
  EXPECT_TRUE(ReadAll(dst + "/z.bin") == data);
  EXPECT_EQ(EntriesOf(dst), std::vector<std::string>{"z.bin"});
}

TEST(ModemCli, BadCommandLinesAreUsageErrorsThatCreateNothing) {
  SocatPair line;
  const std::string base = MakeTempDir("mc-bad");
  WriteAll(base + "/a.bin", "a");
  WriteAll(base + "/b.bin", "b");
  const struct {
    QStringList args;
    std::string message;
  } cases[] = {
      {{"send", "--protocol", "kermit", Q(line.A()), Q(base + "/a.bin")},
       "vxmodem: unknown protocol kermit (xmodem, ymodem or zmodem)\n"},
      {{"send", "--protocol", "zmodem", "--1k", Q(line.A()), Q(base + "/a.bin")},
       "vxmodem: --1k is for sending XMODEM"},
      {{"receive", "--protocol", "zmodem", "-g", Q(line.A()), Q(base)},
       "vxmodem: --streaming is for receiving YMODEM"},
      {{"receive", "--protocol", "zmodem", Q(line.A()), Q(base), Q(base)},
       "vxmodem: receive takes one directory"},
      {{"send", "--protocol", "xmodem", Q(line.A()), Q(base + "/a.bin"), Q(base + "/b.bin")},
       "vxmodem: XMODEM carries one file per session (2 given)"},
      {{"send", "--protocol", "xmodem", Q(line.A()), Q(base + "/*.bin")},
       "vxmodem: XMODEM carries one file per session (2 given)"},
      {{"send"}, "vxmodem: a command and a device are needed\n"},
      {{"receive"}, "vxmodem: a command and a device are needed\n"},
      {{"send", Q(line.A())}, "vxmodem: send needs at least one file\n"},
      {{"receive", Q(line.A()), Q(base + "/none")},
       "vxmodem: cannot receive into " + base + "/none: No such file or directory\n"},
      {{"receive", "--protocol", "xmodem", Q(line.A()), Q(base + "/none/x.bin")},
       "vxmodem: cannot receive into " + base + "/none/: No such file or directory\n"},
      {{"receive", "--protocol", "xmodem", Q(line.A())},
       "vxmodem: XMODEM carries no file name: receive needs the FILE to store it as\n"},
      {{"receive", "--protocol", "xmodem", Q(line.A()), Q(base)},
       "vxmodem: XMODEM receive needs a FILE to store as, not a directory\n"},
      {{"send", Q(line.A()), Q(base + "/none.bin")},
       "vxmodem: cannot send \"" + base + "/none.bin\": no such file\n"},
      {{"receive", "--1k", Q(line.A()), Q(base)}, "vxmodem: --1k is for sending XMODEM"},
      {{"receive", "--sum", Q(line.A()), Q(base)}, "vxmodem: --crc and --sum are for receiving"},
      {{"send", "-g", Q(line.A()), Q(base + "/a.bin")},
       "vxmodem: --streaming is for receiving YMODEM"},
      {{"send", "--retry-limit", "0", Q(line.A()), Q(base + "/a.bin")},
       "vxmodem: bad --retry-limit"},
      {{"send", "--error-limit", "-1", Q(line.A()), Q(base + "/a.bin")},
       "vxmodem: bad --error-limit"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.join(' ').toStdString());
    const ProgramRun r = RunCli(c.args);
    EXPECT_EQ(r.code, 2) << r.err;
    EXPECT_EQ(r.err.rfind(c.message, 0), 0u) << r.err;
  }
  EXPECT_EQ(EntriesOf(base), (std::vector<std::string>{"a.bin", "b.bin"}));
  const ProgramRun noDevice = RunCli({"send", "/nonexistent/tty", Q(base + "/a.bin")});
  EXPECT_EQ(noDevice.code, 2);
  EXPECT_NE(noDevice.err.find("vxmodem: cannot open /nonexistent/tty"), std::string::npos)
      << noDevice.err;
}

// sb killed while its file crosses: the receiver fails and leaves nothing in its directory,
// neither the file's name nor its hidden part.
TEST(ModemCli, ASenderThatVanishesLeavesNothingReceived) {
  SocatPair line;
  const std::string src = MakeTempDir("mc-gone-src"), dst = MakeTempDir("mc-gone-dst");
  WriteAll(src + "/big.bin", RandomBytes(5 * 1000 * 1000, 12));
  QProcess receiver;
  ASSERT_TRUE(
      StartWithOpenLine(receiver, VXMODEM_BIN,
                        {"receive", "--timeout", "1", "--retry-limit", "3", Q(line.A()), Q(dst)}));
  QProcess sb;
  StartLinePeer(sb, "sb -q big.bin", line.B(), src);
  ASSERT_TRUE(WaitUntil([&] { return Exists(dst + "/.big.bin.vxpart"); }, 30000));
  const pid_t program = PeerProgram(sb);
  ASSERT_GT(program, 0);
  ASSERT_EQ(::kill(program, SIGKILL), 0);
  ASSERT_TRUE(WaitForEnd(receiver, 60000));
  const std::string err = receiver.readAllStandardError().toStdString();
  EXPECT_EQ(receiver.exitCode(), 1) << err;
  EXPECT_NE(err.find("vxmodem: transfer failed: "), std::string::npos) << err;
  EXPECT_NE(err.find("0 received complete"), std::string::npos) << err;
  EXPECT_EQ(EntriesOf(dst), std::vector<std::string>{});
  LinePeerExited(sb);
}

// rb killed while the batch crosses: the send fails.
TEST(ModemCli, AReceiverThatVanishesFailsTheSend) {
  SocatPair line;
  const std::string src = MakeTempDir("mc-rbgone-src"), dst = MakeTempDir("mc-rbgone-dst");
  WriteAll(src + "/big.bin", RandomBytes(5 * 1000 * 1000, 13));
  QProcess rb;
  StartLinePeer(rb, "rb -q", line.B(), dst);
  QProcess sender;
  sender.start(VXMODEM_BIN,
               {"send", "--timeout", "1", "--retry-limit", "3", Q(line.A()), Q(src + "/big.bin")});
  ASSERT_TRUE(sender.waitForStarted(5000));
  ASSERT_TRUE(WaitUntil([&] { return QFileInfo(Q(dst + "/big.bin")).size() > 0; }, 30000));
  const pid_t program = PeerProgram(rb);
  ASSERT_GT(program, 0);
  ASSERT_EQ(::kill(program, SIGKILL), 0);
  ASSERT_TRUE(WaitForEnd(sender, 60000));
  const std::string err = sender.readAllStandardError().toStdString();
  EXPECT_EQ(sender.exitCode(), 1) << err;
  EXPECT_NE(err.find("vxmodem: transfer failed: "), std::string::npos) << err;
  EXPECT_NE(err.find("1 file listed: 0 sent complete"), std::string::npos) << err;
  LinePeerExited(rb);
}
