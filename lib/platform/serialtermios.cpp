#include "platform/serialtermios.h"

#include <cerrno>

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
  tio.c_cflag |= BOTHER | CREAD | CLOCAL | HUPCL;
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
  tio.c_cflag |= BOTHER | CS8 | CREAD | CLOCAL | HUPCL;
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
