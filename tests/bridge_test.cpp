// vxbridge in front of ser2net's com port control accepter, a socat pair behind the server:
// the pseudo-terminal it makes is a serial line to programs that know nothing of the
// network. The speed and stop bits a program sets there reach the device behind the server,
// every byte value crosses both ways, ckermit on the pseudo-terminal and vxkermit on the far
// end move a file byte-identical each way, and the server going away ends the bridge with
// status 1 and its link removed. Bad command lines and a refused connection end it with 2.
#include <gtest/gtest.h>

#include <termios.h>

#include <QProcess>
#include <memory>
#include <string>

#include "support/kermitfiles.h"
#include "support/kermitpeer.h"
#include "support/programrun.h"
#include "support/ptypair.h"
#include "support/ser2net.h"
#include "support/socatpair.h"
#include "support/ttyend.h"

using namespace kermitfiles;

namespace {

constexpr int kPeerLimitSec = 120;
constexpr std::size_t kFileSize = 300 * 1000;

class Bridge : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = MakeTempDir("bridge");
    pair_ = std::make_unique<SocatPair>(dir_);
    server_ = std::make_unique<Ser2Net>(dir_, pair_->B(), "115200n81");
    link_ = dir_ + "/board";
    bridge_.setProgram(VXBRIDGE_BIN);
    bridge_.setArguments(
        {"--link", QString::fromStdString(link_), QString::fromStdString(server_->TelnetUrl())});
    bridge_.setStandardErrorFile(QString::fromStdString(dir_ + "/bridge.err"));
    bridge_.start();
    ASSERT_TRUE(bridge_.waitForStarted(5000));
    ASSERT_TRUE(WaitUntil([&] { return Exists(link_); }, 10000)) << Said();
  }
  void TearDown() override {
    bridge_.terminate();
    bridge_.waitForFinished(10000);
  }
  std::string Said() const {
    return Exists(dir_ + "/bridge.err") ? ReadAll(dir_ + "/bridge.err") : "";
  }
  // The device behind the server comes to run at Speed with two stop bits or one (ser2net
  // may apply a setting after its answer, and the bridge sets one at a time); its termios then.
  termios DeviceAt(speed_t speed, bool twoStopBits) {
    WaitUntil(
        [&] {
          device_ = TermiosOf(pair_->B());
          return ::cfgetospeed(&device_) == speed &&
                 ((device_.c_cflag & CSTOPB) != 0) == twoStopBits;
        },
        5000);
    return device_;
  }

  std::string dir_, link_;
  std::unique_ptr<SocatPair> pair_;
  std::unique_ptr<Ser2Net> server_;
  QProcess bridge_;
  termios device_{};
};

}  // namespace

TEST_F(Bridge, SettingsAndEveryByteCross) {
  TtyEnd program(link_), far(pair_->A());
  ASSERT_TRUE(program.Ok());
  ASSERT_TRUE(far.Ok());
  termios t{};
  ASSERT_EQ(::tcgetattr(program.fd(), &t), 0);
  ::cfmakeraw(&t);
  ::cfsetspeed(&t, B38400);
  t.c_cflag |= CSTOPB;
  ASSERT_EQ(::tcsetattr(program.fd(), TCSANOW, &t), 0);
  // Written right after the setting: the bridge sets the port first.
  const std::string all = EveryByte();
  program.Write(all);
  const termios device = DeviceAt(B38400, true);
  EXPECT_EQ(::cfgetospeed(&device), B38400) << Said();
  EXPECT_NE(device.c_cflag & CSTOPB, 0u) << Said();
  EXPECT_EQ(far.Read(all.size(), 10000), all);
  far.Write(all);
  EXPECT_EQ(program.Read(all.size(), 10000), all);

  // Back to one stop bit at 115200.
  t.c_cflag &= ~CSTOPB;
  ::cfsetspeed(&t, B115200);
  ASSERT_EQ(::tcsetattr(program.fd(), TCSANOW, &t), 0);
  const termios back = DeviceAt(B115200, false);
  EXPECT_EQ(::cfgetospeed(&back), B115200) << Said();
  EXPECT_EQ(back.c_cflag & CSTOPB, 0u) << Said();
}

TEST_F(Bridge, CkermitOnThePseudoTerminalSendsAndReceives) {
  const std::string src = MakeTempDir("bridge-src"), dst = MakeTempDir("bridge-dst");
  const std::string sent = RandomBytes(kFileSize, 41);
  WriteAll(src + "/f.bin", sent);
  {
    // ckermit sends through the bridge; vxkermit receives on the far end of the device.
    QProcess ours;
    ASSERT_TRUE(StartWithOpenLine(
        ours, VXKERMIT_BIN,
        {"receive", QString::fromStdString(pair_->A()), QString::fromStdString(dst)}));
    auto peer = KermitPeer::Send(KermitPeer::CKermit, link_, {src + "/f.bin"}, src, kPeerLimitSec);
    ASSERT_TRUE(peer->Wait(kPeerLimitSec * 1000));
    EXPECT_EQ(peer->ExitCode(), 0) << peer->Output();
    ASSERT_TRUE(WaitForEnd(ours, 60000));
    EXPECT_EQ(ours.exitCode(), 0) << ours.readAllStandardError().toStdString();
    EXPECT_EQ(ReadAll(dst + "/f.bin"), sent);
  }
  {
    // vxkermit sends from the far end; ckermit receives through the bridge.
    const std::string back = MakeTempDir("bridge-back");
    auto peer = KermitPeer::Receive(KermitPeer::CKermit, link_, back, kPeerLimitSec);
    const ProgramRun ours =
        RunProgram(VXKERMIT_BIN, {"send", "--quiet", QString::fromStdString(pair_->A()),
                                  QString::fromStdString(src + "/f.bin")});
    EXPECT_EQ(ours.code, 0) << ours.err;
    ASSERT_TRUE(peer->Wait(kPeerLimitSec * 1000));
    EXPECT_EQ(peer->ExitCode(), 0) << peer->Output();
    EXPECT_EQ(ReadAll(back + "/f.bin"), sent);
  }
}

TEST_F(Bridge, TheServerGoingAwayEndsIt) {
  server_->Stop();
  ASSERT_TRUE(WaitForEnd(bridge_, 15000));
  EXPECT_EQ(bridge_.exitCode(), 1);
  EXPECT_NE(Said().find("closed"), std::string::npos) << Said();
  EXPECT_FALSE(Exists(link_));
}

TEST(BridgeCommandLine, BadArgumentsAndARefusedServerEndWithTwo) {
  const std::string dir = MakeTempDir("bridge-cli");
  WriteAll(dir + "/taken", "");
  const QString refused = QString("rfc2217://127.0.0.1:%1").arg(FreeLoopbackPort());
  const struct {
    QStringList args;
    const char* said;
  } cases[] = {
      {{}, "one device is needed"},
      {{"--speed", "fast", refused}, "bad --speed"},
      {{"--link", QString::fromStdString(dir + "/taken"), refused}, "exists"},
      {{refused}, "Connection refused"},
      {{"rfc2217://[::1"}, "cannot open"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.join(' ').toStdString());
    const ProgramRun run = RunProgram(VXBRIDGE_BIN, c.args, 20000);
    EXPECT_EQ(run.code, 2);
    EXPECT_NE(run.err.find(c.said), std::string::npos) << run.err;
  }
  EXPECT_EQ(ReadAll(dir + "/taken"), "");
}
