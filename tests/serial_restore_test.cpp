// The line left as it was found: closing a port puts back the speed, framing and terminal
// flags its open found (the serial layer's device and the component alike), unless told to
// keep its own; and a standard speed reads back as itself, not as 0, to programs that know
// only the termios constants.
#include <asm/termbits.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>

#include <fcntl.h>
#include <unistd.h>
#include <algorithm>

#include "support/ptypair.h"
#include "support/serialfixture.h"
#include "vxcomm/platform/serialport.h"
#include "vxcomm/unqualified.h"
#include "vxcomm/vxcomm.h"

namespace {

struct termios2 LineOf(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  struct termios2 tio = {};
  EXPECT_EQ(ioctl(fd, TCGETS2, &tio), 0);
  ::close(fd);
  return tio;
}

// Settings a terminal may have before a program takes it: cooked, echoing, 38400 baud,
// no hang-up on close.
struct termios2 CookedLine(const std::string& path) {
  struct termios2 tio = LineOf(path);
  tio.c_iflag = ICRNL | IXON | BRKINT;
  tio.c_oflag = OPOST | ONLCR;
  tio.c_lflag = ICANON | ECHO | ECHOE | ISIG | IEXTEN;
  tio.c_cflag = B38400 | CS7 | CREAD | PARENB;
  tio.c_ispeed = tio.c_ospeed = 38400;
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 5;
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  EXPECT_EQ(ioctl(fd, TCSETS2, &tio), 0);
  ::close(fd);
  return LineOf(path);
}

bool Same(const struct termios2& a, const struct termios2& b) {
  return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
         a.c_lflag == b.c_lflag && a.c_ispeed == b.c_ispeed && a.c_ospeed == b.c_ospeed &&
         std::equal(std::begin(a.c_cc), std::end(a.c_cc), std::begin(b.c_cc));
}

// The block our programs run: 115200 8N1, no flow control.
TDCB Fast() {
  TDCB dcb;
  dcb.BaudRate = 115200;
  dcb.Flags = 0x1011;
  return dcb;
}

}  // namespace

TEST(LineRestore, TheDeviceCloseLeavesTheLineAsItsOpenFoundIt) {
  PtyPair pty;
  const struct termios2 found = CookedLine(pty.slavePath());
  std::shared_ptr<TvxSerialDevice> device = vxOpenSerialPort(pty.slavePath()).device;
  ASSERT_TRUE(device);
  EXPECT_TRUE(device->RestoreOnClose());
  ASSERT_FALSE(device->SetState(Fast()));
  const struct termios2 running = LineOf(pty.slavePath());
  ASSERT_FALSE(Same(running, found));
  EXPECT_EQ(running.c_lflag, 0u);
  device->Close();
  EXPECT_TRUE(Same(LineOf(pty.slavePath()), found));
}

TEST(LineRestore, TheDeviceKeepsItsOwnSettingsWhenAsked) {
  PtyPair pty;
  const struct termios2 found = CookedLine(pty.slavePath());
  std::shared_ptr<TvxSerialDevice> device = vxOpenSerialPort(pty.slavePath()).device;
  ASSERT_TRUE(device);
  ASSERT_FALSE(device->SetState(Fast()));
  const struct termios2 running = LineOf(pty.slavePath());
  device->SetRestoreOnClose(false);
  device->Close();
  const struct termios2 after = LineOf(pty.slavePath());
  EXPECT_TRUE(Same(after, running));
  EXPECT_FALSE(Same(after, found));
}

TEST(LineRestore, AStandardSpeedIsSetByItsConstant) {
  PtyPair pty;
  std::shared_ptr<TvxSerialDevice> device = vxOpenSerialPort(pty.slavePath()).device;
  ASSERT_TRUE(device);
  // The speed the open sets before any block arrives.
  EXPECT_EQ(LineOf(pty.slavePath()).c_cflag & CBAUD, static_cast<tcflag_t>(B9600));
  for (const auto& [bps, bits] : {std::pair<std::uint32_t, tcflag_t>{115200, B115200},
                                  {300, B300},
                                  {4000000, B4000000},
                                  {250000, BOTHER}}) {
    TDCB dcb = Fast();
    dcb.BaudRate = bps;
    ASSERT_FALSE(device->SetState(dcb)) << bps;
    const struct termios2 tio = LineOf(pty.slavePath());
    EXPECT_EQ(tio.c_cflag & CBAUD, bits) << bps;
    EXPECT_EQ(tio.c_ospeed, bps);
    TDCB back;
    ASSERT_FALSE(device->GetState(back));
    EXPECT_EQ(back.BaudRate, bps);
  }
  device->Close();
}

TEST(LineRestore, TheComponentRestoresByDefaultAndKeepsWhenToldWhileOpen) {
  PtyPair pty;
  const struct termios2 found = CookedLine(pty.slavePath());
  UsePrivateConfigStore();
  TvxComm comm;
  comm.SetComPortNo(static_cast<std::uint16_t>(MapPort(41, pty.slavePath())));
  EXPECT_TRUE(comm.RestoreOnClose());
  comm.SetBaudRate(115200);
  comm.SetStreamProtocol(spNone);
  comm.SetActive(true);
  ASSERT_TRUE(comm.Active());
  EXPECT_EQ(LineOf(pty.slavePath()).c_ospeed, 115200u);
  comm.SetActive(false);
  EXPECT_TRUE(Same(LineOf(pty.slavePath()), found));

  comm.SetActive(true);
  ASSERT_TRUE(comm.Active());
  const struct termios2 running = LineOf(pty.slavePath());
  comm.SetRestoreOnClose(false);
  comm.SetActive(false);
  EXPECT_TRUE(Same(LineOf(pty.slavePath()), running));
  EXPECT_EQ(LineOf(pty.slavePath()).c_ospeed, 115200u);
}
