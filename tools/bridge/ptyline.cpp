#include "ptyline.h"

#include <sys/ioctl.h>

#include <cerrno>

#include "vxcomm/platform/serialtermios.h"

namespace vxbridge {

using namespace vxcomm;

bool ReadPtyLine(int master, TPtyLine& line) {
  // A pty master's line ioctls reach its slave's termios: what the program there set.
  struct termios2 tio {};
  if (::ioctl(master, TCGETS2, &tio) != 0) return false;
  const TDCB dcb = vxDcbFromTermios(tio, TDCB{});
  line.baud = dcb.BaudRate;
  line.stop = static_cast<TStopBits>(dcb.StopBits);
  if (dcb.Flags & dcbflag::OutxCtsFlow)
    line.flow = spHardware;
  else if (dcb.Flags & (dcbflag::OutX | dcbflag::InX))
    line.flow = spXonXoff;
  else
    line.flow = spNone;
  return true;
}

int WritePtyLine(int master, const TPtyLine& line) {
  struct termios2 tio {};
  vxMakeRawTermios(tio);
  TDCB dcb;
  dcb.BaudRate = line.baud;
  dcb.StopBits = line.stop;
  if (line.flow == spHardware) dcb.Flags |= dcbflag::OutxCtsFlow;
  if (line.flow == spXonXoff) dcb.Flags |= dcbflag::OutX | dcbflag::InX;
  if (const int error = vxTermiosFromDcb(dcb, tio); error != 0) return error;
  return ::ioctl(master, TCSETS2, &tio) == 0 ? 0 : errno;
}

}  // namespace vxbridge
