// Network ports as device names of TvxComm: tcp:// and rfc2217:// against ser2net serving
// one end of a socat pseudo-terminal pair; the test holds the other end. Bytes go both ways
// unchanged (every byte value, 0xFF among them), line settings from our side reach the
// device behind the server (flow control among them, read back from the server's answer), DTR,
// RTS, break and purges leave the line working, IPv6 works as IPv4, a server that goes away
// closes the port with a reason, and a bad name or a refused port is refused with a clear
// message.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#include <QElapsedTimer>
#include <QThread>
#include <cerrno>
#include <cstring>
#include <iostream>
#include <memory>
#include <mutex>
#include <string>

#include "support/ptypair.h"
#include "support/receivedbytes.h"
#include "support/ser2net.h"
#include "support/socatpair.h"
#include "support/ttyend.h"

#include "vxcomm/unqualified.h"
#include "vxcomm/vxcomm.h"

namespace {

// The component with its device in reach, for the device calls it has no method for (break).
class NetComm : public TvxComm {
 public:
  using TvxComm::Device;
};

std::string AllByteValues() {
  std::string all;
  for (int round = 0; round < 4; ++round)
    for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  all += std::string(64, '\xff');
  return all;
}

// ser2net serving socat end B on a raw and a Telnet (com port control) accepter, and a
// Telnet one on ::1; the test holds end A.
class NetPort : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = MakeTempDir("netport");
    pair_ = std::make_unique<SocatPair>(dir_);
    server_ = std::make_unique<Ser2Net>(dir_, pair_->B());
    line_ = std::make_unique<TtyEnd>(pair_->A());
    ASSERT_TRUE(line_->Ok());
  }
  void TearDown() override {
    comm_.Close();
    line_.reset();
    StopServer();
  }
  void StopServer() { server_->Stop(); }

  void LineWrite(const std::string& data) { line_->Write(data); }
  std::string LineRead(std::size_t count, int timeoutMs) { return line_->Read(count, timeoutMs); }

  void Open(const std::string& name, TStreamProtocol protocol = spNone) {
    comm_.SetStreamProtocol(protocol);
    comm_.SetDeviceName(name);
    std::string why;
    ASSERT_TRUE(comm_.TryOpen(&why)) << why;
    comm_.OnAfterReceive = [&](TObject*, const void* data, Cardinal len) {
      received_.Add(data, len);
    };
  }

  // Every byte value both ways: what arrives equals what was sent.
  void ExpectAllBytesBothWays() {
    const std::string all = AllByteValues();
    comm_.SendData(all.data(), static_cast<Cardinal>(all.size()));
    EXPECT_EQ(LineRead(all.size(), 10000), all);
    LineWrite(all);
    EXPECT_TRUE(WaitUntil([&] { return received_.Text().size() >= all.size(); }, 10000));
    EXPECT_EQ(received_.Text(), all);
  }

  // The termios of the server's device.
  termios DeviceLine() { return TermiosOf(pair_->B()); }
  // The server's device comes to run at Speed with Size bits (it may apply a setting after
  // its answer).
  void ExpectDeviceLine(speed_t speed, tcflag_t size) {
    WaitUntil(
        [&] {
          const termios t = DeviceLine();
          return ::cfgetospeed(&t) == speed && (t.c_cflag & CSIZE) == size;
        },
        5000);
    const termios t = DeviceLine();
    EXPECT_EQ(::cfgetospeed(&t), speed);
    EXPECT_EQ(t.c_cflag & CSIZE, size);
  }

  // The server killed mid-session: the port closes as for a vanished device, with a reason.
  void ExpectLossWithAReason() {
    comm_.SendString("up");
    ASSERT_EQ(LineRead(2, 5000), "up");
    StopServer();
    EXPECT_TRUE(WaitUntil([&] { return !comm_.Active(); }, 10000));
    EXPECT_TRUE(comm_.DeviceLost());
    EXPECT_FALSE(comm_.FailureText().empty());
    std::cout << "lost: " << comm_.FailureText() << "\n";
  }

  std::string dir_;
  std::unique_ptr<SocatPair> pair_;
  std::unique_ptr<Ser2Net> server_;
  std::unique_ptr<TtyEnd> line_;  // end A: the far end of the server's device
  NetComm comm_;
  Bytes received_;
};

TEST_F(NetPort, RawTcpCarriesEveryByteValueBothWays) {
  Open(server_->RawUrl());
  ExpectAllBytesBothWays();
}

TEST_F(NetPort, TelnetCarriesEveryByteValueBothWaysWithItsEscapesUndone) {
  Open(server_->TelnetUrl());
  ExpectAllBytesBothWays();
}

TEST_F(NetPort, TelnetLineSettingsReachTheDeviceBehindTheServer) {
  // A pseudo-terminal keeps 8 data bits whatever is set, so the 7 shows only in the server's
  // answer, which the open checks (a differing answer refuses the settings).
  comm_.SetBaudRate(38400);
  comm_.SetByteSize(7);
  Open(server_->TelnetUrl());
  ExpectDeviceLine(B38400, CS8);
}

TEST_F(NetPort, OtherTelnetLineSettingsReachTheDeviceBehindTheServer) {
  comm_.SetBaudRate(115200);
  comm_.SetByteSize(8);
  Open(server_->TelnetUrl());
  ExpectDeviceLine(B115200, CS8);
}

TEST_F(NetPort, RawTcpKeepsTheLineSettingsLocal) {
  comm_.SetBaudRate(38400);
  Open(server_->RawUrl());
  comm_.SendString("x");
  EXPECT_EQ(LineRead(1, 5000), "x");
  ExpectDeviceLine(B9600, CS8);
}

TEST_F(NetPort, ARawServerThatGoesAwayClosesThePortWithAReason) {
  Open(server_->RawUrl());
  ExpectLossWithAReason();
}

TEST_F(NetPort, ATelnetServerThatGoesAwayClosesThePortWithAReason) {
  Open(server_->TelnetUrl());
  ExpectLossWithAReason();
}

TEST_F(NetPort, ABadNameOrARefusedPortIsRefusedWithAClearMessage) {
  const int refused = FreeLoopbackPort();
  for (const std::string& name :
       {std::string("rfc2217://nohost:"), std::string("tcp://[::1"),
        std::string("tcp://127.0.0.1:99999"), std::string("tcp://no-such-host.invalid:7000"),
        "tcp://127.0.0.1:" + std::to_string(refused)}) {
    SCOPED_TRACE(name);
    TvxComm comm;
    comm.SetDeviceName(name);
    std::string why;
    EXPECT_FALSE(comm.TryOpen(&why));
    EXPECT_NE(why.find(name), std::string::npos) << why;
    EXPECT_FALSE(comm.Active());
    std::cout << name << " -> " << why << "\n";
  }
}

TEST_F(NetPort, TelnetFlowControlReachesTheDeviceBehindTheServer) {
  const struct {
    TStreamProtocol protocol;
    bool ixon, ixoff, crtscts;
  } table[] = {
      {spXonXoff, true, true, false},
      {spHardware, false, false, true},
      {spNone, false, false, false},
  };
  for (const auto& row : table) {
    SCOPED_TRACE(int(row.protocol));
    Open(server_->TelnetUrl(), row.protocol);
    auto matches = [&] {
      const termios t = DeviceLine();
      return bool(t.c_iflag & IXON) == row.ixon && bool(t.c_iflag & IXOFF) == row.ixoff &&
             bool(t.c_cflag & CRTSCTS) == row.crtscts;
    };
    WaitUntil(matches, 5000);
    const termios t = DeviceLine();
    EXPECT_EQ(bool(t.c_iflag & IXON), row.ixon);
    EXPECT_EQ(bool(t.c_iflag & IXOFF), row.ixoff);
    EXPECT_EQ(bool(t.c_cflag & CRTSCTS), row.crtscts);
    // The server's confirmed flow control is what the device reports back.
    TDCB dcb;
    ASSERT_FALSE(comm_.Device()->GetState(dcb));
    EXPECT_EQ(bool(dcb.Flags & dcbflag::OutX), row.ixon);
    EXPECT_EQ(bool(dcb.Flags & dcbflag::OutxCtsFlow), row.crtscts);
    comm_.SendString("x");
    EXPECT_EQ(LineRead(1, 5000), "x");
    comm_.Close();
  }
}

TEST_F(NetPort, TelnetDtrAndRtsChangesLeaveTheLineWorking) {
  // A pseudo-terminal has no modem lines: the server cannot switch them on its device, and
  // nothing here can read them there; what is checked is that each change returns without an
  // error and the line carries every byte both ways after them.
  Open(server_->TelnetUrl());
  int lines = 0;
  const int device = ::open(pair_->B().c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(device, 0);
  const int got = ::ioctl(device, TIOCMGET, &lines);
  const int why = errno;
  ::close(device);
  std::cout << "modem lines of the server's device: "
            << (got == 0 ? std::to_string(lines) : std::string(std::strerror(why))) << "\n";
  for (bool on : {false, true}) {
    comm_.SetDTR(on);
    EXPECT_EQ(comm_.LastLineError(), 0);
    comm_.SetRTS(on);
    EXPECT_EQ(comm_.LastLineError(), 0);
  }
  ExpectAllBytesBothWays();
}

TEST_F(NetPort, TelnetBreakOnAndOffLeavesTheDataWhole) {
  // The far pseudo-terminal reads a break as one NUL (BRKINT, IGNBRK and PARMRK off), if one
  // reaches it at all: a pseudo-terminal cannot send a break, so the server's device has none.
  Open(server_->TelnetUrl());
  termios far{};
  ASSERT_EQ(::tcgetattr(line_->fd(), &far), 0);
  EXPECT_FALSE(far.c_iflag & (BRKINT | IGNBRK | PARMRK));
  comm_.SendString("a");
  ASSERT_EQ(LineRead(1, 5000), "a");
  EXPECT_FALSE(comm_.Device()->Escape(SETBREAK));
  EXPECT_FALSE(comm_.Device()->Escape(CLRBREAK));
  comm_.SendString("b");
  const std::string got = LineRead(1, 5000);
  EXPECT_TRUE(got == "b" || got == std::string("\0b", 2)) << testing::PrintToString(got);
  std::cout << "after the break: " << testing::PrintToString(got) << "\n";
  ExpectAllBytesBothWays();
}

TEST_F(NetPort, TelnetPurgeIsConfirmedByTheServerAndTheLineCarriesOn) {
  Open(server_->TelnetUrl());
  for (std::uint32_t flags : {PURGE_RXCLEAR, PURGE_TXCLEAR, PURGE_RXCLEAR | PURGE_TXCLEAR}) {
    const TvxSerialError error = comm_.Device()->Purge(flags);
    EXPECT_FALSE(error) << error.text;
  }
  ExpectAllBytesBothWays();
}

TEST_F(NetPort, TelnetOverIpv6CarriesEveryByteValueAndTheLineSettings) {
  comm_.SetBaudRate(57600);
  Open(server_->Telnet6Url());
  ExpectDeviceLine(B57600, CS8);
  ExpectAllBytesBothWays();
}

}  // namespace
