// The serial layer's terminal device over real pseudo-terminals: exclusive open, the control
// block on the line, time-outs, the one-step look at what happened, the input queue, purges,
// a vanished peer and the failure seam.
#include <asm/termbits.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/stat.h>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#include <QElapsedTimer>
#include <cerrno>
#include <fstream>
#include <future>

#include "support/ptypair.h"
#include "vxcomm/platform/portmap.h"
#include "vxcomm/platform/serialfaults.h"
#include "vxcomm/platform/serialport.h"
#include "vxcomm/unqualified.h"

namespace {
struct termios2 SlaveTermios(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  struct termios2 tio = {};
  ioctl(fd, TCGETS2, &tio);
  ::close(fd);
  return tio;
}

// True when Fd turns readable within TimeoutMs.
bool Readable(int fd, int timeoutMs) {
  struct pollfd p = {fd, POLLIN, 0};
  return ::poll(&p, 1, timeoutMs) == 1 && (p.revents & (POLLIN | POLLHUP));
}

class SerialLayer : public ::testing::Test {
 protected:
  void SetUp() override {
    TvxSerialOpen opened = vxOpenSerialPort(pty.slavePath());
    ASSERT_TRUE(opened.device) << opened.error.text;
    device = opened.device;
  }
  void TearDown() override {
    if (device) device->Close();
  }
  // Waits until the device's input descriptor is readable, then looks.
  TvxLineReport LookWhenReadable(void* buffer, std::uint32_t size) {
    EXPECT_TRUE(Readable(device->EventFds().input, 5000));
    return device->Look(buffer, size);
  }
  PtyPair pty;
  std::shared_ptr<TvxSerialDevice> device;
};
}  // namespace

TEST(SerialOpen, RefusesWhatIsNoPortWithTheSystemError) {
  EXPECT_EQ(vxOpenSerialPort("/dev/does-not-exist-42").error.code, ENOENT);
  TvxSerialOpen null = vxOpenSerialPort("/dev/null");
  EXPECT_FALSE(null.device);
  EXPECT_EQ(null.error.code, ENOTTY);
  EXPECT_EQ(null.error.text, "Inappropriate ioctl for device");
  std::string file = MakeTempDir("serial-open") + "/plain";
  std::ofstream(file) << "x";
  EXPECT_EQ(vxOpenSerialPort(file).error.code, ENOTTY);
  EXPECT_EQ(vxOpenSerialPort("").error.code, ENOENT);
  EXPECT_EQ(vxOpenSerialPort("LPT1").error.code, ENOENT);
}

TEST(SerialOpen, IsExclusiveUntilClosed) {
  PtyPair pty;
  std::shared_ptr<TvxSerialDevice> first = vxOpenSerialPort(pty.slavePath()).device;
  ASSERT_TRUE(first);
  TvxSerialOpen second = vxOpenSerialPort(pty.slavePath());
  EXPECT_FALSE(second.device);
  EXPECT_EQ(second.error.code, EBUSY);
  EXPECT_EQ(second.error.text, "Device or resource busy");
  first->Close();
  first.reset();
  std::shared_ptr<TvxSerialDevice> again = vxOpenSerialPort(pty.slavePath()).device;
  EXPECT_TRUE(again);
  again->Close();
  // A closed device refuses every call.
  EXPECT_EQ(again->SetMask(EV_RXCHAR).code, EBADF);
  EXPECT_EQ(again->Write("x", 1, true).code, EBADF);
  char b;
  EXPECT_EQ(again->Look(&b, 1).failure.code, EBADF);
}

TEST(SerialOpen, ComNamesResolveThroughThePortMap) {
  setenv("XDG_CONFIG_HOME", MakeTempDir("serial-portmap").c_str(), 1);
  PtyPair pty;
  vxWritePortMapping(31, pty.slavePath());
  EXPECT_EQ(vxSerialPath("COM31"), pty.slavePath());
  TvxSerialOpen opened = vxOpenSerialPort("COM31");
  ASSERT_TRUE(opened.device);
  opened.device->Close();
  EXPECT_EQ(vxSerialPath("COM200"), "/dev/ttyS199");
  EXPECT_EQ(vxSerialPath("ttyUSB3"), "/dev/ttyUSB3");
  EXPECT_EQ(vxSerialPath("\\\\?\\COM31"), "") << "a prefixed name is no port name";
}

TEST(SerialOpen, PermissionTextNamesTheOwningGroupAndTheSeamFailsOneOpen) {
  PtyPair pty;
  // A group that may read and write the device is the one to join.
  ASSERT_EQ(::chmod(pty.slavePath().c_str(), 0660), 0);
  std::string text = vxSerialErrorText(EACCES, pty.slavePath());
  EXPECT_EQ(text.rfind("Permission denied (the device belongs to the group \"", 0), 0) << text;
  EXPECT_NE(text.find("add the user to that group"), std::string::npos);
  EXPECT_EQ(vxSerialErrorText(ENOENT, pty.slavePath()), "No such file or directory");
  vxSerialFaults().openError = EACCES;
  TvxSerialOpen refused = vxOpenSerialPort(pty.slavePath());
  EXPECT_FALSE(refused.device);
  EXPECT_EQ(refused.error.code, EACCES);
  EXPECT_EQ(refused.error.text, text);
  TvxSerialOpen opened = vxOpenSerialPort(pty.slavePath());  // the fault was taken by one open
  ASSERT_TRUE(opened.device);
  opened.device->Close();
  // A group that may not (a pseudo-terminal's own 0620) is none: the owner is named.
  for (const mode_t mode : {0600, 0620, 0640}) {
    ASSERT_EQ(::chmod(pty.slavePath().c_str(), mode), 0);
    const std::string owner = vxSerialErrorText(EACCES, pty.slavePath());
    EXPECT_EQ(owner.rfind("Permission denied (no group may use the device: only its owner \"", 0),
              0)
        << mode << ": " << owner;
    EXPECT_EQ(owner.find("group \""), std::string::npos) << owner;
  }
}

TEST_F(SerialLayer, ControlBlockReachesTheLine) {
  TDCB dcb;
  dcb.BaudRate = 250000;  // no standard speed: BOTHER
  dcb.ByteSize = 7;
  dcb.Parity = 3;  // mark
  dcb.StopBits = 2;
  dcb.Flags = 0x2015 | dcbflag::Parity;
  ASSERT_FALSE(device->SetState(dcb));
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
  ASSERT_FALSE(device->GetState(back));
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
  ASSERT_FALSE(device->SetState(dcb));
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
  ASSERT_FALSE(device->SetState(dcb));
  TDCB bad = dcb;
  bad.ByteSize = 4;
  TvxSerialError error = device->SetState(bad);
  EXPECT_EQ(error.code, EINVAL);
  EXPECT_EQ(error.text, "Invalid argument");
  bad = dcb;
  bad.BaudRate = 0;
  EXPECT_TRUE(device->SetState(bad));
  bad = dcb;
  bad.Parity = 5;
  EXPECT_TRUE(device->SetState(bad));
  EXPECT_EQ(SlaveTermios(pty.slavePath()).c_ospeed, 38400u);
}

// A 7-bit line hands over bytes with the eighth bit cleared, as a UART in 7 bits does,
// also where the driver does not frame (a pseudo-terminal) or the peer adds parity in
// software; an 8-bit line hands them over intact.
TEST_F(SerialLayer, SevenDataBitsClearTheEighthBitOfInput) {
  TCOMMTIMEOUTS t;
  t.ReadTotalTimeoutConstant = 10000;  // bounds a read that would otherwise wait for ever
  device->SetTimeouts(t);
  std::string high;
  for (int b = 0x80; b <= 0xFF; ++b) high += static_cast<char>(b);
  for (std::uint8_t size : {7, 6, 5, 8}) {
    TDCB dcb;
    dcb.ByteSize = size;
    dcb.Parity = size == 7 ? 2 : 0;
    ASSERT_FALSE(device->SetState(dcb)) << int(size);
    EXPECT_EQ((SlaveTermios(pty.slavePath()).c_iflag & ISTRIP) != 0, size < 8) << int(size);
    pty.Write(high);
    std::string got(high.size(), '\0');
    std::uint32_t done = 0;
    ASSERT_FALSE(device->Read(got.data(), static_cast<std::uint32_t>(got.size()), done));
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
  device->SetTimeouts(t);
  char buffer[8];
  std::uint32_t done = 99;
  QElapsedTimer clock;
  clock.start();
  EXPECT_FALSE(device->Read(buffer, 5, done));  // 5 x 20 ms, nothing arrives
  EXPECT_EQ(done, 0u);
  EXPECT_GE(clock.elapsed(), 90);
  pty.Write("abc");
  EXPECT_FALSE(device->Read(buffer, 3, done));
  EXPECT_EQ(std::string(buffer, done), "abc");

  // All zero: the read waits until every byte has arrived.
  device->SetTimeouts(TCOMMTIMEOUTS{});
  auto later = std::async(std::launch::async, [&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    pty.Write("1234");
  });
  EXPECT_FALSE(device->Read(buffer, 4, done));
  EXPECT_EQ(std::string(buffer, done), "1234");
  later.get();
}

TEST_F(SerialLayer, PurgeOfTheInputReleasesAWaitingRead) {
  device->SetTimeouts(TCOMMTIMEOUTS{});
  auto reader = std::async(std::launch::async, [&] {
    char buffer[4];
    std::uint32_t done = 0;
    device->Read(buffer, 4, done);
    return done;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  ASSERT_FALSE(device->Purge(PURGE_RXABORT | PURGE_RXCLEAR));
  ASSERT_EQ(reader.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_EQ(reader.get(), 0u);
}

TEST_F(SerialLayer, WriteTimeoutEndsAWriteNobodyReads) {
  TCOMMTIMEOUTS t;
  t.WriteTotalTimeoutConstant = 200;
  device->SetTimeouts(t);
  std::string block(1 << 20, 'x');
  QElapsedTimer clock;
  clock.start();
  TvxSerialError error =
      device->Write(block.data(), static_cast<std::uint32_t>(block.size()), true);
  EXPECT_EQ(error.code, ETIMEDOUT);
  EXPECT_EQ(error.text, "Connection timed out");
  EXPECT_GE(clock.elapsed(), 150);
}

TEST_F(SerialLayer, UnwaitedWritesGoOutInOrder) {
  std::string expected;
  for (int i = 0; i < 200; ++i) {
    std::string block(1000, static_cast<char>('a' + i % 26));
    expected += block;
    ASSERT_FALSE(device->Write(block.data(), static_cast<std::uint32_t>(block.size()), false));
  }
  EXPECT_EQ(pty.Read(expected.size(), 10000), expected);
}

TEST_F(SerialLayer, ALookTakesWhatArrivedInOneStepAndLeavesNothingToReport) {
  ASSERT_FALSE(device->SetMask(EV_RXCHAR | EV_TXEMPTY));
  const TvxEventFds fds = device->EventFds();
  ASSERT_GE(fds.input, 0);
  ASSERT_GE(fds.wake, 0);
  char buffer[64];
  pty.Write("ab");
  TvxLineReport report = LookWhenReadable(buffer, sizeof buffer);
  EXPECT_EQ(report.events, static_cast<std::uint32_t>(EV_RXCHAR));
  EXPECT_EQ(std::string(buffer, report.taken), "ab");
  EXPECT_EQ(report.errors, 0u);
  EXPECT_EQ(report.stat.cbInQue, 0u);
  EXPECT_FALSE(report.failure);
  // Taken: nothing is readable, and another look has nothing to tell.
  EXPECT_FALSE(Readable(fds.input, 0));
  report = device->Look(buffer, sizeof buffer);
  EXPECT_EQ(report.events, 0u);
  EXPECT_EQ(report.taken, 0u);
  // A buffer smaller than what arrived takes the first part; the rest is the next look's.
  pty.Write("0123456789");
  ASSERT_TRUE(Readable(fds.input, 5000));
  while (device->Status().stat.cbInQue < 10) std::this_thread::yield();
  report = device->Look(buffer, 4);
  EXPECT_EQ(std::string(buffer, report.taken), "0123");
  EXPECT_EQ(report.stat.cbInQue, 6u);
  report = LookWhenReadable(buffer, sizeof buffer);
  EXPECT_EQ(std::string(buffer, report.taken), "456789");
  // The output ran empty after a write: the wake descriptor tells, the look reports it.
  ASSERT_FALSE(device->Write("out", 3, true));
  EXPECT_EQ(pty.Read(3, 2000), "out");
  ASSERT_TRUE(Readable(fds.wake, 5000));
  report = device->Look(buffer, sizeof buffer);
  EXPECT_EQ(report.events, static_cast<std::uint32_t>(EV_TXEMPTY));
}

TEST_F(SerialLayer, TheEventCharacterRaisesRxFlagWhenInTheMask) {
  TDCB dcb;
  dcb.EvtChar = '\n';
  ASSERT_FALSE(device->SetState(dcb));
  ASSERT_FALSE(device->SetMask(EV_RXCHAR | EV_RXFLAG));
  char buffer[64];
  pty.Write("no end");
  EXPECT_EQ(LookWhenReadable(buffer, sizeof buffer).events, static_cast<std::uint32_t>(EV_RXCHAR));
  pty.Write("line\n");
  EXPECT_EQ(LookWhenReadable(buffer, sizeof buffer).events,
            static_cast<std::uint32_t>(EV_RXCHAR | EV_RXFLAG));
  // Queued rather than taken, the character is seen as the bytes arrive.
  pty.Write("queued\n");
  TvxLineReport report = LookWhenReadable(nullptr, 0);
  EXPECT_EQ(report.events, static_cast<std::uint32_t>(EV_RXCHAR | EV_RXFLAG));
  EXPECT_EQ(report.taken, 0u);
  ASSERT_FALSE(device->SetMask(EV_RXCHAR));
  pty.Write("\n");
  EXPECT_EQ(LookWhenReadable(nullptr, 0).events, static_cast<std::uint32_t>(EV_RXCHAR));
}

TEST_F(SerialLayer, WithoutABufferInputIsQueuedForReadAndNotWatchedWhenFull) {
  ASSERT_FALSE(device->SetMask(EV_RXCHAR));
  device->SetQueueSizes(4096, 4096);
  const TvxEventFds fds = device->EventFds();
  pty.Write("abc");
  TvxLineReport report = LookWhenReadable(nullptr, 0);
  EXPECT_EQ(report.events, static_cast<std::uint32_t>(EV_RXCHAR));
  EXPECT_EQ(report.stat.cbInQue, 3u);
  EXPECT_FALSE(Readable(fds.input, 0)) << "moved into the device's queue";
  EXPECT_EQ(device->Look(nullptr, 0).events, 0u) << "reported once";
  EXPECT_EQ(device->Status().stat.cbInQue, 3u);
  // The queue fills: the input is not to be watched until a read makes room.
  std::string sent = "abc";
  for (int i = 0; device->WatchInput() && i < 100; ++i) {
    const std::string block(1000, static_cast<char>('d' + i % 20));
    pty.Write(block);
    sent += block;
    ASSERT_TRUE(Readable(fds.input, 5000) || !device->WatchInput());
    device->Look(nullptr, 0);
  }
  ASSERT_FALSE(device->WatchInput());
  EXPECT_GE(device->Status().stat.cbInQue, 4096u);
  TCOMMTIMEOUTS t;
  t.ReadTotalTimeoutConstant = 5000;
  device->SetTimeouts(t);
  std::string got(sent.size(), '\0');
  std::uint32_t done = 0;
  ASSERT_FALSE(device->Read(got.data(), static_cast<std::uint32_t>(got.size()), done));
  EXPECT_EQ(done, sent.size());
  EXPECT_TRUE(got == sent) << "in order, nothing lost";
  EXPECT_TRUE(device->WatchInput());
  EXPECT_TRUE(Readable(fds.wake, 0)) << "room again: the waiter looks again";
}

TEST_F(SerialLayer, AVanishedPeerFailsTheLookOnceWhatItLeftIsTaken) {
  ASSERT_FALSE(device->SetMask(EV_RXCHAR));
  pty.Write("bye");
  ASSERT_TRUE(Readable(device->EventFds().input, 5000));
  pty.CloseMaster();
  char buffer[16];
  TvxLineReport report = device->Look(buffer, sizeof buffer);
  if (report.taken > 0) {
    EXPECT_EQ(std::string(buffer, report.taken), "bye");
    EXPECT_FALSE(report.failure);
    report = LookWhenReadable(buffer, sizeof buffer);
  }
  EXPECT_EQ(report.failure.code, EIO);
  EXPECT_EQ(report.failure.text, "Input/output error");
}

TEST_F(SerialLayer, CloseReleasesAWaitingRead) {
  device->SetTimeouts(TCOMMTIMEOUTS{});
  auto read = std::async(std::launch::async, [&] {
    char b[4];
    std::uint32_t done = 0;
    return device->Read(b, 4, done).code;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  device->Close();
  ASSERT_EQ(read.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_EQ(read.get(), EBADF);
  EXPECT_TRUE(Readable(device->EventFds().wake, 0)) << "a waiter on the device is woken";
}

TEST_F(SerialLayer, PseudoTerminalsHaveNoModemLinesAndDoNotFail) {
  std::uint32_t status = 0xFF;
  EXPECT_FALSE(device->ModemStatus(status));
  EXPECT_EQ(status, 0u);
  EXPECT_FALSE(device->Escape(SETDTR));
  EXPECT_FALSE(device->Escape(CLRRTS));
  EXPECT_EQ(device->Escape(77).code, EINVAL);
  TDCB dcb;
  dcb.Flags = 0x3011;  // RTS toggle: the pty has no RS-485, so the component switches RTS
  EXPECT_FALSE(device->SetState(dcb));
  EXPECT_FALSE(device->KernelRS485());
}

TEST_F(SerialLayer, FaultSeamFailsOneWriteAndOneLook) {
  vxSerialFaults().writeError = EIO;
  EXPECT_EQ(device->Write("a", 1, true).code, EIO);
  EXPECT_FALSE(device->Write("a", 1, true));
  vxSerialFaults().lookError = ENXIO;
  char b[4];
  EXPECT_EQ(device->Look(b, sizeof b).failure.code, ENXIO);
  EXPECT_FALSE(device->Look(b, sizeof b).failure);
}
