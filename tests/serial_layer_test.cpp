// The serial layer over real pseudo-terminals: exclusive open, the control block on the
// line, time-outs, the event wait, purges, a vanished peer and the failure seam.
#include <asm/termbits.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#include <QElapsedTimer>
#include <cerrno>
#include <fstream>
#include <future>

#include "platform/portmap.h"
#include "platform/serialport.h"
#include "support/ptypair.h"

namespace {
struct termios2 SlaveTermios(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  struct termios2 tio = {};
  ioctl(fd, TCGETS2, &tio);
  ::close(fd);
  return tio;
}

class SerialLayer : public ::testing::Test {
 protected:
  void SetUp() override {
    handle = vxSerialOpen(pty.slavePath());
    ASSERT_NE(handle, INVALID_HANDLE_VALUE) << vxSerialLastError();
  }
  void TearDown() override { vxSerialClose(handle); }
  PtyPair pty;
  THandle handle = INVALID_HANDLE_VALUE;
};
}  // namespace

TEST(SerialOpen, RefusesWhatIsNoPortWithTheSystemError) {
  EXPECT_EQ(vxSerialOpen("/dev/does-not-exist-42"), INVALID_HANDLE_VALUE);
  EXPECT_EQ(vxSerialLastError(), ENOENT);
  EXPECT_EQ(vxSerialOpen("/dev/null"), INVALID_HANDLE_VALUE);
  EXPECT_EQ(vxSerialLastError(), ENOTTY);
  std::string file = MakeTempDir("serial-open") + "/plain";
  std::ofstream(file) << "x";
  EXPECT_EQ(vxSerialOpen(file), INVALID_HANDLE_VALUE);
  EXPECT_EQ(vxSerialLastError(), ENOTTY);
  EXPECT_EQ(vxSerialOpen(""), INVALID_HANDLE_VALUE);
  EXPECT_EQ(vxSerialOpen("LPT1"), INVALID_HANDLE_VALUE);
  EXPECT_EQ(vxSerialLastError(), ENOENT);
}

TEST(SerialOpen, IsExclusiveUntilClosed) {
  PtyPair pty;
  THandle first = vxSerialOpen(pty.slavePath());
  ASSERT_NE(first, INVALID_HANDLE_VALUE);
  EXPECT_EQ(vxSerialOpen(pty.slavePath()), INVALID_HANDLE_VALUE);
  EXPECT_EQ(vxSerialLastError(), EBUSY);
  vxSerialClose(first);
  THandle again = vxSerialOpen(pty.slavePath());
  EXPECT_NE(again, INVALID_HANDLE_VALUE);
  vxSerialClose(again);
  // A closed handle is refused, never reused for another device.
  EXPECT_FALSE(vxSetCommMask(first, EV_RXCHAR));
  EXPECT_EQ(vxSerialLastError(), EBADF);
}

TEST(SerialOpen, ComNamesResolveThroughThePortMap) {
  setenv("XDG_CONFIG_HOME", MakeTempDir("serial-portmap").c_str(), 1);
  PtyPair pty;
  vxWritePortMapping(31, pty.slavePath());
  EXPECT_EQ(vxSerialPath("\\\\?\\COM31"), pty.slavePath());
  THandle h = vxSerialOpen("\\\\?\\COM31");
  EXPECT_NE(h, INVALID_HANDLE_VALUE);
  vxSerialClose(h);
  EXPECT_EQ(vxSerialPath("COM200"), "/dev/ttyS199");
}

TEST(SerialOpen, PermissionTextNamesTheOwningGroup) {
  PtyPair pty;
  std::string text = vxSerialErrorText(EACCES, pty.slavePath());
  EXPECT_EQ(text.rfind("Permission denied (the device belongs to the group \"", 0), 0) << text;
  EXPECT_NE(text.find("add the user to that group"), std::string::npos);
  EXPECT_EQ(vxSerialErrorText(ENOENT, pty.slavePath()), "No such file or directory");
  vxSerialFaults().openError = EACCES;
  EXPECT_EQ(vxSerialOpen(pty.slavePath()), INVALID_HANDLE_VALUE);
  EXPECT_EQ(vxSerialLastError(), EACCES);
  THandle h = vxSerialOpen(pty.slavePath());  // the fault was taken by one call
  EXPECT_NE(h, INVALID_HANDLE_VALUE);
  vxSerialClose(h);
}

TEST_F(SerialLayer, ControlBlockReachesTheLine) {
  TDCB dcb;
  dcb.BaudRate = 250000;  // no standard speed: BOTHER
  dcb.ByteSize = 7;
  dcb.Parity = 3;  // mark
  dcb.StopBits = 2;
  dcb.Flags = 0x2015 | dcbflag::Parity;
  ASSERT_TRUE(vxSetCommState(handle, dcb));
  struct termios2 tio = SlaveTermios(pty.slavePath());
  EXPECT_EQ(tio.c_ospeed, 250000u);
  EXPECT_EQ(tio.c_cflag & CBAUD, static_cast<tcflag_t>(BOTHER));
  // A pseudo-terminal always runs 8 bits without parity; the rest of the framing stays.
  EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_TRUE(tio.c_cflag & CMSPAR);
  EXPECT_TRUE(tio.c_cflag & PARODD);
  EXPECT_TRUE(tio.c_cflag & CSTOPB);
  EXPECT_TRUE(tio.c_cflag & CRTSCTS);
  EXPECT_TRUE(tio.c_iflag & INPCK);
  EXPECT_FALSE(tio.c_lflag & (ICANON | ECHO));

  TDCB back;
  ASSERT_TRUE(vxGetCommState(handle, back));
  EXPECT_EQ(back.BaudRate, 250000u);
  EXPECT_EQ(back.ByteSize, 8);  // what the line runs, not what was asked
  EXPECT_EQ(back.Parity, 0);
  EXPECT_EQ(back.StopBits, 2);
  EXPECT_EQ(back.Flags, dcb.Flags);

  dcb.Parity = 1;
  dcb.ByteSize = 5;
  dcb.StopBits = 0;
  dcb.Flags = 0x1311;
  dcb.XonChar = 0x01;
  dcb.XoffChar = 0x02;
  ASSERT_TRUE(vxSetCommState(handle, dcb));
  tio = SlaveTermios(pty.slavePath());
  EXPECT_EQ(tio.c_cflag & (PARODD | CMSPAR), static_cast<tcflag_t>(PARODD));
  EXPECT_FALSE(tio.c_cflag & (CSTOPB | CRTSCTS));
  EXPECT_EQ(tio.c_iflag & (IXON | IXOFF), static_cast<tcflag_t>(IXON | IXOFF));
  EXPECT_EQ(tio.c_cc[VSTART], 0x01);
  EXPECT_EQ(tio.c_cc[VSTOP], 0x02);
}

TEST_F(SerialLayer, UnsupportedFramingIsRefusedAndLeavesTheLine) {
  TDCB dcb;
  dcb.BaudRate = 38400;
  ASSERT_TRUE(vxSetCommState(handle, dcb));
  TDCB bad = dcb;
  bad.ByteSize = 4;
  EXPECT_FALSE(vxSetCommState(handle, bad));
  EXPECT_EQ(vxSerialLastError(), EINVAL);
  bad = dcb;
  bad.BaudRate = 0;
  EXPECT_FALSE(vxSetCommState(handle, bad));
  bad = dcb;
  bad.Parity = 5;
  EXPECT_FALSE(vxSetCommState(handle, bad));
  EXPECT_EQ(SlaveTermios(pty.slavePath()).c_ospeed, 38400u);
}

// A 7-bit line hands over bytes with the eighth bit cleared, as a UART in 7 bits does,
// also where the driver does not frame (a pseudo-terminal) or the peer adds parity in
// software; an 8-bit line hands them over intact.
TEST_F(SerialLayer, SevenDataBitsClearTheEighthBitOfInput) {
  TCOMMTIMEOUTS t;
  t.ReadTotalTimeoutConstant = 10000;  // bounds a read that would otherwise wait for ever
  ASSERT_TRUE(vxSetCommTimeouts(handle, t));
  std::string high;
  for (int b = 0x80; b <= 0xFF; ++b) high += static_cast<char>(b);
  for (std::uint8_t size : {7, 6, 5, 8}) {
    TDCB dcb;
    dcb.ByteSize = size;
    dcb.Parity = size == 7 ? 2 : 0;
    ASSERT_TRUE(vxSetCommState(handle, dcb)) << int(size);
    EXPECT_EQ((SlaveTermios(pty.slavePath()).c_iflag & ISTRIP) != 0, size < 8) << int(size);
    pty.Write(high);
    std::string got(high.size(), '\0');
    std::uint32_t done = 0;
    ASSERT_TRUE(vxReadComm(handle, got.data(), static_cast<std::uint32_t>(got.size()), &done));
    ASSERT_EQ(done, high.size()) << int(size);
    for (std::size_t i = 0; i < high.size(); ++i) {
      const auto sent = static_cast<std::uint8_t>(high[i]);
      const auto expected = static_cast<std::uint8_t>(size < 8 ? sent & 0x7F : sent);
      EXPECT_EQ(static_cast<std::uint8_t>(got[i]), expected) << int(size) << " byte " << int(sent);
    }
  }
}

TEST_F(SerialLayer, ReadsAreBoundedByTheTimeouts) {
  TCOMMTIMEOUTS t;
  t.ReadTotalTimeoutMultiplier = 20;
  ASSERT_TRUE(vxSetCommTimeouts(handle, t));
  char buffer[8];
  std::uint32_t done = 99;
  QElapsedTimer clock;
  clock.start();
  EXPECT_TRUE(vxReadComm(handle, buffer, 5, &done));  // 5 x 20 ms, nothing arrives
  EXPECT_EQ(done, 0u);
  EXPECT_GE(clock.elapsed(), 90);
  pty.Write("abc");
  EXPECT_TRUE(vxReadComm(handle, buffer, 3, &done));
  EXPECT_EQ(std::string(buffer, done), "abc");

  // All zero: the read waits until every byte has arrived.
  ASSERT_TRUE(vxSetCommTimeouts(handle, TCOMMTIMEOUTS{}));
  auto later = std::async(std::launch::async, [&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    pty.Write("1234");
  });
  EXPECT_TRUE(vxReadComm(handle, buffer, 4, &done));
  EXPECT_EQ(std::string(buffer, done), "1234");
  later.get();
}

TEST_F(SerialLayer, PurgeOfTheInputReleasesAWaitingRead) {
  ASSERT_TRUE(vxSetCommTimeouts(handle, TCOMMTIMEOUTS{}));
  auto reader = std::async(std::launch::async, [&] {
    char buffer[4];
    std::uint32_t done = 0;
    vxReadComm(handle, buffer, 4, &done);
    return done;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  ASSERT_TRUE(vxPurgeComm(handle, PURGE_RXABORT | PURGE_RXCLEAR));
  ASSERT_EQ(reader.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_EQ(reader.get(), 0u);
}

TEST_F(SerialLayer, WriteTimeoutEndsAWriteNobodyReads) {
  TCOMMTIMEOUTS t;
  t.WriteTotalTimeoutConstant = 200;
  ASSERT_TRUE(vxSetCommTimeouts(handle, t));
  std::string block(1 << 20, 'x');
  QElapsedTimer clock;
  clock.start();
  EXPECT_FALSE(vxWriteComm(handle, block.data(), static_cast<std::uint32_t>(block.size()), true));
  EXPECT_EQ(vxSerialLastError(), ETIMEDOUT);
  EXPECT_LT(clock.elapsed(), 3000);
  EXPECT_GE(clock.elapsed(), 150);
}

TEST_F(SerialLayer, UnwaitedWritesGoOutInOrder) {
  std::string expected;
  for (int i = 0; i < 200; ++i) {
    std::string block(1000, static_cast<char>('a' + i % 26));
    expected += block;
    ASSERT_TRUE(vxWriteComm(handle, block.data(), static_cast<std::uint32_t>(block.size()), false));
  }
  EXPECT_EQ(pty.Read(expected.size(), 10000), expected);
}

TEST_F(SerialLayer, EventWaitReportsNewInputOnceAndIsReleased) {
  ASSERT_TRUE(vxSetCommMask(handle, EV_RXCHAR | EV_TXEMPTY));
  auto waiter = [&] {
    return std::async(std::launch::async, [&] {
      std::uint32_t mask = 0;
      bool ok = vxWaitCommEvent(handle, mask);
      return ok ? mask : 0xFFFFFFFFu;
    });
  };
  pty.Write("x");
  EXPECT_EQ(waiter().get(), EV_RXCHAR);
  // The same byte, still queued, is not reported again: setting the mask ends the wait.
  auto pending = waiter();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(pending.wait_for(std::chrono::milliseconds(0)), std::future_status::timeout);
  ASSERT_TRUE(vxSetCommMask(handle, EV_RXCHAR | EV_TXEMPTY));
  EXPECT_EQ(pending.get(), 0u);
  pending = waiter();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  vxReleaseCommWait(handle);
  EXPECT_EQ(pending.get(), 0u);
  // Growth of a queue already reported is a new event.
  pty.Write("y");
  EXPECT_EQ(waiter().get(), EV_RXCHAR);
  std::uint32_t errors = 1;
  TCOMSTAT stat;
  ASSERT_TRUE(vxClearCommError(handle, errors, &stat));
  EXPECT_EQ(errors, 0u);
  EXPECT_EQ(stat.cbInQue, 2u);
  ASSERT_TRUE(vxWriteComm(handle, "out", 3, true));
  EXPECT_EQ(waiter().get(), EV_TXEMPTY);
  EXPECT_EQ(pty.Read(3, 2000), "out");
}

// True when Fd turns readable within TimeoutMs.
bool Readable(int fd, int timeoutMs) {
  struct pollfd p = {fd, POLLIN, 0};
  return ::poll(&p, 1, timeoutMs) == 1 && (p.revents & POLLIN);
}

TEST_F(SerialLayer, PolledEventsReportInputOnceWakeForTheRestAndShowTheHangUp) {
  const TvxEventFds fds = vxCommEventFds(handle);
  ASSERT_GE(fds.input, 0);
  ASSERT_GE(fds.wake, 0);
  ASSERT_TRUE(vxSetCommMask(handle, EV_RXCHAR | EV_TXEMPTY));
  std::uint32_t mask = 1;
  ASSERT_TRUE(Readable(fds.wake, 0));  // setting the mask asks for a first look
  ASSERT_TRUE(vxPollCommEvent(handle, mask));
  EXPECT_EQ(mask, 0u);
  EXPECT_FALSE(Readable(fds.wake, 0));
  pty.Write("ab");
  ASSERT_TRUE(Readable(fds.input, 2000));
  ASSERT_TRUE(vxPollCommEvent(handle, mask));
  EXPECT_EQ(mask, static_cast<std::uint32_t>(EV_RXCHAR));
  // Reported and left unread: not reported again, and the input is not to be watched.
  ASSERT_TRUE(vxPollCommEvent(handle, mask));
  EXPECT_EQ(mask, 0u);
  EXPECT_TRUE(vxCommInputReportedUnread(handle));
  pty.Write("c");  // growth beside them is new
  for (int i = 0; i < 200 && vxPollCommEvent(handle, mask) && mask == 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(mask, static_cast<std::uint32_t>(EV_RXCHAR));
  // A read of reported bytes wakes the caller, who then watches the input again.
  char buf[3];
  std::uint32_t got = 0;
  ASSERT_TRUE(vxReadComm(handle, buf, 3, &got));
  EXPECT_EQ(std::string(buf, got), "abc");
  EXPECT_TRUE(Readable(fds.wake, 0));
  EXPECT_FALSE(vxCommInputReportedUnread(handle));
  ASSERT_TRUE(vxPollCommEvent(handle, mask));
  EXPECT_EQ(mask, 0u);
  EXPECT_FALSE(Readable(fds.wake, 0));
  ASSERT_TRUE(vxWriteComm(handle, "out", 3, true));
  EXPECT_EQ(pty.Read(3, 2000), "out");
  ASSERT_TRUE(Readable(fds.wake, 2000));
  ASSERT_TRUE(vxPollCommEvent(handle, mask));
  EXPECT_EQ(mask, static_cast<std::uint32_t>(EV_TXEMPTY));
  pty.CloseMaster();
  ASSERT_TRUE(Readable(fds.input, 2000));
  EXPECT_FALSE(vxPollCommEvent(handle, mask));
  EXPECT_EQ(vxSerialLastError(), EIO);
}

TEST_F(SerialLayer, VanishedPeerFailsTheWaitWithAnIOError) {
  ASSERT_TRUE(vxSetCommMask(handle, EV_RXCHAR));
  auto waiter = std::async(std::launch::async, [&] {
    std::uint32_t mask = 0;
    bool ok = vxWaitCommEvent(handle, mask);
    return ok ? 0 : vxSerialLastError();
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  pty.CloseMaster();
  ASSERT_EQ(waiter.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_EQ(waiter.get(), EIO);
}

TEST_F(SerialLayer, CloseReleasesEveryWaiter) {
  ASSERT_TRUE(vxSetCommMask(handle, EV_RXCHAR));
  ASSERT_TRUE(vxSetCommTimeouts(handle, TCOMMTIMEOUTS{}));
  auto wait = std::async(std::launch::async, [&] {
    std::uint32_t mask = 0;
    return vxWaitCommEvent(handle, mask) ? 0 : vxSerialLastError();
  });
  auto read = std::async(std::launch::async, [&] {
    char b[4];
    std::uint32_t done = 0;
    return vxReadComm(handle, b, 4, &done) ? 0 : vxSerialLastError();
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  vxSerialClose(handle);
  handle = INVALID_HANDLE_VALUE;
  EXPECT_EQ(wait.get(), EBADF);
  EXPECT_EQ(read.wait_for(std::chrono::seconds(5)), std::future_status::ready);
}

TEST_F(SerialLayer, PseudoTerminalsHaveNoModemLinesAndDoNotFail) {
  std::uint32_t status = 0xFF;
  EXPECT_TRUE(vxGetCommModemStatus(handle, status));
  EXPECT_TRUE(vxEscapeCommFunction(handle, SETDTR));
  EXPECT_TRUE(vxEscapeCommFunction(handle, CLRRTS));
  EXPECT_FALSE(vxEscapeCommFunction(handle, 77));
  TDCB dcb;
  dcb.Flags = 0x3011;  // RTS toggle: the pty has no RS-485, so the component switches RTS
  EXPECT_TRUE(vxSetCommState(handle, dcb));
  EXPECT_FALSE(vxKernelRS485(handle));
}

TEST_F(SerialLayer, FaultSeamFailsWriteAndWaitOnce) {
  vxSerialFaults().writeError = EIO;
  EXPECT_FALSE(vxWriteComm(handle, "a", 1, true));
  EXPECT_EQ(vxSerialLastError(), EIO);
  EXPECT_TRUE(vxWriteComm(handle, "a", 1, true));
  vxSerialFaults().waitError = ENXIO;
  std::uint32_t mask = 0;
  EXPECT_FALSE(vxWaitCommEvent(handle, mask));
  EXPECT_EQ(vxSerialLastError(), ENXIO);
}
