#include "vxcomm/platform/serialtermios.h"

#include <cerrno>

namespace vxcomm {

namespace {

// The termios constant of a standard speed, BOTHER for any other. A line set with BOTHER
// reads as speed 0 to a program that knows the constants only (stty, and every program
// that uses tcgetattr): a UART's driver turns an exact standard speed back into its
// constant, a pseudo-terminal keeps what it was given.
tcflag_t SpeedBits(std::uint32_t bps) {
  static const struct {
    std::uint32_t bps;
    tcflag_t bits;
  } kSpeeds[] = {{50, B50},           {75, B75},           {110, B110},         {134, B134},
                 {150, B150},         {200, B200},         {300, B300},         {600, B600},
                 {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
                 {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
                 {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
                 {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
                 {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
                 {3500000, B3500000}, {4000000, B4000000}};
  for (const auto& speed : kSpeeds)
    if (speed.bps == bps) return speed.bits;
  return BOTHER;
}

}  // namespace

int vxTermiosFromDcb(const TDCB& dcb, struct termios2& tio) {
  if (dcb.BaudRate == 0 || dcb.ByteSize < 5 || dcb.ByteSize > 8 || dcb.Parity > 4 ||
      dcb.StopBits > 2)
    return EINVAL;
  const std::uint32_t f = dcb.Flags;
  tio.c_iflag = 0;
  if (f & dcbflag::Parity) tio.c_iflag |= INPCK;
  if (f & dcbflag::OutX) tio.c_iflag |= IXON;
  if (f & dcbflag::InX) tio.c_iflag |= IXOFF;
  // A UART in 7 bits or less hands over no eighth bit; stripping makes a line that does
  // not frame (a pseudo-terminal) or that carries software parity read the same.
  if (dcb.ByteSize < 8) tio.c_iflag |= ISTRIP;
  tio.c_oflag = 0;
  tio.c_lflag = 0;
  tio.c_cflag &= ~(CBAUD | CBAUDEX | CIBAUD | CSIZE | CSTOPB | PARENB | PARODD | CMSPAR | CRTSCTS);
  tio.c_cflag |= SpeedBits(dcb.BaudRate) | CREAD | CLOCAL | HUPCL;
  static const tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
  tio.c_cflag |= sizes[dcb.ByteSize - 5];
  switch (dcb.Parity) {
    case 1:  // odd
      tio.c_cflag |= PARENB | PARODD;
      break;
    case 2:  // even
      tio.c_cflag |= PARENB;
      break;
    case 3:  // mark: CMSPAR turns odd into a constant 1
      tio.c_cflag |= PARENB | CMSPAR | PARODD;
      break;
    case 4:  // space: and even into a constant 0
      tio.c_cflag |= PARENB | CMSPAR;
      break;
    default:
      break;
  }
  if (dcb.StopBits != 0) tio.c_cflag |= CSTOPB;
  if ((f & dcbflag::OutxCtsFlow) || (f & dcbflag::RtsControlMask) == dcbflag::RtsHandshake)
    tio.c_cflag |= CRTSCTS;
  tio.c_ispeed = tio.c_ospeed = dcb.BaudRate;
  tio.c_cc[VSTART] = static_cast<cc_t>(dcb.XonChar);
  tio.c_cc[VSTOP] = static_cast<cc_t>(dcb.XoffChar);
  tio.c_cc[VMIN] = 1;
  tio.c_cc[VTIME] = 0;
  return 0;
}

TDCB vxDcbFromTermios(const struct termios2& tio, const TDCB& held) {
  TDCB dcb = held;
  dcb.DCBlength = 28;
  dcb.BaudRate = tio.c_ospeed;
  static const std::uint8_t sizes[] = {5, 6, 7, 8};
  dcb.ByteSize = sizes[(tio.c_cflag & CSIZE) >> 4];
  if (!(tio.c_cflag & PARENB))
    dcb.Parity = 0;
  else if (tio.c_cflag & CMSPAR)
    dcb.Parity = (tio.c_cflag & PARODD) ? 3 : 4;
  else
    dcb.Parity = (tio.c_cflag & PARODD) ? 1 : 2;
  if (!(tio.c_cflag & CSTOPB))
    dcb.StopBits = 0;
  else if (held.StopBits == 0)
    dcb.StopBits = 2;
  dcb.XonChar = static_cast<char>(tio.c_cc[VSTART]);
  dcb.XoffChar = static_cast<char>(tio.c_cc[VSTOP]);
  return dcb;
}

void vxMakeRawTermios(struct termios2& tio) {
  tio.c_iflag = 0;
  tio.c_oflag = 0;
  tio.c_lflag = 0;
  tio.c_cflag &= ~(CBAUD | CBAUDEX | CIBAUD | CSIZE | CSTOPB | PARENB | PARODD | CMSPAR | CRTSCTS);
  tio.c_cflag |= SpeedBits(9600) | CS8 | CREAD | CLOCAL | HUPCL;
  tio.c_ispeed = tio.c_ospeed = 9600;
  tio.c_cc[VMIN] = 1;
  tio.c_cc[VTIME] = 0;
}

TvxLineControl vxLineControlOf(const TDCB& dcb) {
  TvxLineControl lines;
  lines.dtr = (dcb.Flags & dcbflag::DtrControlMask) != 0;
  const std::uint32_t rts = dcb.Flags & dcbflag::RtsControlMask;
  lines.rtsToggle = rts == dcbflag::RtsToggle;
  lines.rts = rts != 0 && !lines.rtsToggle;
  return lines;
}

}  // namespace vxcomm
