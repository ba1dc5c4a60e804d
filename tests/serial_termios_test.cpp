// The control block mapped onto termios2 and back, table by table, without a terminal.
#include <gtest/gtest.h>

#include <cerrno>

#include "vxcomm/platform/serialtermios.h"
#include "vxcomm/unqualified.h"

namespace {
TDCB Block(std::uint32_t baud, std::uint8_t size, std::uint8_t parity, std::uint8_t stop,
           std::uint32_t flags) {
  TDCB dcb;
  dcb.BaudRate = baud;
  dcb.ByteSize = size;
  dcb.Parity = parity;
  dcb.StopBits = stop;
  dcb.Flags = flags;
  return dcb;
}

// A termios2 as a terminal might hand it over: cooked, echoing, at 38400 baud.
struct termios2 Cooked() {
  struct termios2 tio = {};
  tio.c_iflag = ICRNL | IXON | BRKINT;
  tio.c_oflag = OPOST | ONLCR;
  tio.c_lflag = ICANON | ECHO | ISIG | IEXTEN;
  tio.c_cflag = B38400 | CS8 | CREAD | PARENB;
  tio.c_ispeed = tio.c_ospeed = 38400;
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 5;
  return tio;
}
}  // namespace

struct FramingRow {
  TDCB dcb;
  tcflag_t size;
  tcflag_t parity;  // PARENB, PARODD and CMSPAR as set
  bool twoStop;
  bool strip;
};

class TermiosFraming : public ::testing::TestWithParam<FramingRow> {};

TEST_P(TermiosFraming, EveryFramingMapsToItsBitsAndReadsBack) {
  const FramingRow& row = GetParam();
  struct termios2 tio = Cooked();
  ASSERT_EQ(vxTermiosFromDcb(row.dcb, tio), 0);
  EXPECT_EQ(tio.c_cflag & CSIZE, row.size);
  EXPECT_EQ(tio.c_cflag & (PARENB | PARODD | CMSPAR), row.parity);
  EXPECT_EQ((tio.c_cflag & CSTOPB) != 0, row.twoStop);
  EXPECT_EQ((tio.c_iflag & ISTRIP) != 0, row.strip);
  // A standard speed is set by its constant, any other with BOTHER.
  const bool standard = row.dcb.BaudRate != 250000 && row.dcb.BaudRate != 1;
  EXPECT_EQ((tio.c_cflag & CBAUD) == static_cast<tcflag_t>(BOTHER), !standard);
  EXPECT_EQ(tio.c_ospeed, row.dcb.BaudRate);
  EXPECT_EQ(tio.c_ispeed, row.dcb.BaudRate);
  EXPECT_TRUE(tio.c_cflag & CREAD);
  EXPECT_TRUE(tio.c_cflag & CLOCAL);
  // Raw whatever it was before: no line editing, echo, signals or output processing.
  EXPECT_EQ(tio.c_lflag, 0u);
  EXPECT_EQ(tio.c_oflag, 0u);
  EXPECT_EQ(tio.c_cc[VMIN], 1);
  EXPECT_EQ(tio.c_cc[VTIME], 0);

  TDCB held = row.dcb;
  held.Flags = 0xABCD;  // the flag word termios has no place for comes from the held block
  const TDCB back = vxDcbFromTermios(tio, held);
  EXPECT_EQ(back.BaudRate, row.dcb.BaudRate);
  EXPECT_EQ(back.ByteSize, row.dcb.ByteSize);
  EXPECT_EQ(back.Parity, row.dcb.Parity);
  EXPECT_EQ(back.StopBits, row.dcb.StopBits);
  EXPECT_EQ(back.Flags, 0xABCDu);
  EXPECT_EQ(back.DCBlength, 28u);
}

INSTANTIATE_TEST_SUITE_P(
    Table, TermiosFraming,
    ::testing::Values(FramingRow{Block(9600, 8, 0, 0, 0x1011), CS8, 0, false, false},
                      FramingRow{Block(115200, 7, 2, 0, 0x1013), CS7, PARENB, false, true},
                      FramingRow{Block(1200, 7, 1, 2, 0x1013), CS7, PARENB | PARODD, true, true},
                      FramingRow{Block(300, 6, 3, 0, 0x1013), CS6, PARENB | PARODD | CMSPAR, false,
                                 true},
                      FramingRow{Block(250000, 5, 4, 2, 0x1013), CS5, PARENB | CMSPAR, true, true},
                      FramingRow{Block(3000000, 8, 2, 1, 0x1013), CS8, PARENB, true, false},
                      FramingRow{Block(1, 8, 0, 0, 0x1011), CS8, 0, false, false}));

TEST(TermiosStopBits, OneAndAHalfReadsBackFromTheHeldBlockTwoOtherwise) {
  struct termios2 tio = Cooked();
  ASSERT_EQ(vxTermiosFromDcb(Block(9600, 5, 0, 1, 0), tio), 0);
  EXPECT_TRUE(tio.c_cflag & CSTOPB);
  EXPECT_EQ(vxDcbFromTermios(tio, Block(9600, 5, 0, 1, 0)).StopBits, 1);
  EXPECT_EQ(vxDcbFromTermios(tio, Block(9600, 5, 0, 0, 0)).StopBits, 2);
}

struct FlowRow {
  std::uint32_t flags;
  bool crtscts;
  bool ixon;
  bool ixoff;
  bool inpck;
  TvxLineControl lines;
};

class TermiosFlow : public ::testing::TestWithParam<FlowRow> {};

TEST_P(TermiosFlow, FlagWordsMapToFlowControlAndLines) {
  const FlowRow& row = GetParam();
  struct termios2 tio = Cooked();
  TDCB dcb = Block(19200, 8, 0, 0, row.flags);
  dcb.XonChar = 0x05;
  dcb.XoffChar = 0x06;
  ASSERT_EQ(vxTermiosFromDcb(dcb, tio), 0);
  EXPECT_EQ((tio.c_cflag & CRTSCTS) != 0, row.crtscts);
  EXPECT_EQ((tio.c_iflag & IXON) != 0, row.ixon);
  EXPECT_EQ((tio.c_iflag & IXOFF) != 0, row.ixoff);
  EXPECT_EQ((tio.c_iflag & INPCK) != 0, row.inpck);
  EXPECT_EQ(tio.c_iflag & (ICRNL | BRKINT), 0u);
  EXPECT_EQ(tio.c_cc[VSTART], 0x05);
  EXPECT_EQ(tio.c_cc[VSTOP], 0x06);
  const TDCB back = vxDcbFromTermios(tio, dcb);
  EXPECT_EQ(back.XonChar, 0x05);
  EXPECT_EQ(back.XoffChar, 0x06);
  const TvxLineControl lines = vxLineControlOf(dcb);
  EXPECT_EQ(lines.dtr, row.lines.dtr);
  EXPECT_EQ(lines.rts, row.lines.rts);
  EXPECT_EQ(lines.rtsToggle, row.lines.rtsToggle);
}

// The component's four patterns (none, Xon/Xoff, hardware, RS-485), the parity check, and
// lines that are off.
INSTANTIATE_TEST_SUITE_P(
    Table, TermiosFlow,
    ::testing::Values(FlowRow{0x1011, false, false, false, false, {true, true, false}},
                      FlowRow{0x1311, false, true, true, false, {true, true, false}},
                      FlowRow{0x2015, true, false, false, false, {true, true, false}},
                      FlowRow{0x3011, false, false, false, false, {true, false, true}},
                      FlowRow{
                          0x1011 | dcbflag::Parity, false, false, false, true, {true, true, false}},
                      FlowRow{0x0101, false, true, false, false, {false, false, false}},
                      FlowRow{0x0005, true, false, false, false, {false, false, false}},
                      FlowRow{0x2021, true, false, false, false, {true, true, false}}));

TEST(TermiosRefusals, BlocksNoLineCanRunLeaveTheTermiosAlone) {
  for (const TDCB& bad : {Block(0, 8, 0, 0, 0), Block(9600, 4, 0, 0, 0), Block(9600, 9, 0, 0, 0),
                          Block(9600, 8, 5, 0, 0), Block(9600, 8, 0, 3, 0)}) {
    struct termios2 tio = Cooked();
    const struct termios2 before = tio;
    EXPECT_EQ(vxTermiosFromDcb(bad, tio), EINVAL);
    EXPECT_EQ(tio.c_cflag, before.c_cflag);
    EXPECT_EQ(tio.c_lflag, before.c_lflag);
    EXPECT_EQ(tio.c_ospeed, before.c_ospeed);
  }
}

TEST(TermiosRaw, TheOpeningStateIsRaw8N1At9600) {
  struct termios2 tio = Cooked();
  vxMakeRawTermios(tio);
  const TDCB dcb = vxDcbFromTermios(tio, TDCB{});
  EXPECT_EQ(dcb.BaudRate, 9600u);
  EXPECT_EQ(dcb.ByteSize, 8);
  EXPECT_EQ(dcb.Parity, 0);
  EXPECT_EQ(dcb.StopBits, 0);
  EXPECT_EQ(tio.c_lflag, 0u);
  EXPECT_EQ(tio.c_iflag, 0u);
  EXPECT_EQ(tio.c_oflag, 0u);
  EXPECT_FALSE(tio.c_cflag & CRTSCTS);
}
